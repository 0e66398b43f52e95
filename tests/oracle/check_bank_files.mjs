// Reads the server's bank files with implementations that owe nothing to the server's code:
//   node check_bank_files.mjs nacha FILE      the file parsed by @ach/ach, plus what its own
//                                             records say about lengths, blocking, hash, totals
//                                             (forward entries, and returns: codes 21 26 31 36
//                                             with their addenda, which @ach/ach keeps as type
//                                             and raw text: it knows no addenda 99 layout, and
//                                             no COR batch at all)
//   node check_bank_files.mjs cpa005 PAYMENTS     the CPA-005 text @cityssm/eft-generator writes
//                                             for the payments and settings in PAYMENTS (JSON)
// Prints JSON (nacha) or the generated file (cpa005) on stdout.
import fs from 'node:fs'
import { createRequire } from 'node:module'
import { EFTGenerator } from '@cityssm/eft-generator'

const require = createRequire(import.meta.url)
const AchParser = require('@ach/ach/lib/transforms/ach-parser')

function readNacha (file) {
  const text = fs.readFileSync(file, 'latin1')
  const problems = []
  const lines = text.split('\r\n')
  if (lines.pop() !== '') problems.push('the last record does not end with CR LF')
  lines.forEach((line, i) => {
    if (line.length !== 94) problems.push(`record ${i + 1} has ${line.length} characters`)
    if (!/^[\x20-\x7e]*$/.test(line)) problems.push(`record ${i + 1} is not printable ASCII`)
  })
  if (lines.length % 10 !== 0) problems.push(`${lines.length} records is not a multiple of 10`)
  return new Promise((resolve, reject) => {
    const parser = new AchParser()
    parser.on('data', (ach) => {
      let hash = 0; let debit = 0; let credit = 0; let entries = 0
      for (const batch of ach.batches) {
        let bHash = 0; let bDebit = 0; let bCredit = 0; let bRecords = 0
        for (const e of batch.entries) {
          bHash += e.receivingDFIIdentification
          bRecords += 1 + (e.addenda ? 1 : 0)
          const code = e.transactionCode
          if (['27', '37', '26', '36'].includes(code)) bDebit += e.amount
          else if (['22', '32', '21', '31'].includes(code)) bCredit += e.amount
          else problems.push(`entry ${e.traceNumber} has transaction code ${code}`)
        }
        bHash %= 1e10
        const f = batch.footer
        if (f.entryAndAddendaCount !== bRecords) problems.push('batch entry count differs')
        if (f.entryHash !== bHash) problems.push(`batch hash ${f.entryHash} != ${bHash}`)
        if (f.totalDebit !== bDebit) problems.push(`batch debits ${f.totalDebit} != ${bDebit}`)
        if (f.totalCredit !== bCredit) problems.push(`batch credits ${f.totalCredit} != ${bCredit}`)
        hash += bHash; debit += bDebit; credit += bCredit; entries += bRecords
      }
      const ff = ach.file.footer
      if (ff.batchCount !== ach.batches.length) problems.push('file batch count differs')
      if (ff.blockCount !== lines.length / 10) problems.push(`block count ${ff.blockCount} for ${lines.length} records`)
      if (ff.entryAndAddendaCount !== entries) problems.push('file entry count differs')
      if (ff.entryHash !== hash % 1e10) problems.push('file hash differs')
      if (ff.totalDebit !== debit) problems.push('file debits differ')
      if (ff.totalCredit !== credit) problems.push('file credits differ')
      resolve({ ...ach, problems })
    })
    parser.on('error', reject)
    fs.createReadStream(file, { encoding: 'latin1' }).pipe(parser)
  })
}

function generateCpa005 (paymentsFile) {
  const input = JSON.parse(fs.readFileSync(paymentsFile, 'utf8'))
  const [y, m, d] = input.created
  const [py, pm, pd] = input.due
  const generator = new EFTGenerator({ ...input.config, fileCreationDate: new Date(y, m - 1, d) })
  for (const t of input.transactions) {
    generator.addTransaction({
      recordType: t.recordType,
      segments: t.segments.map((s) => ({ ...s, paymentDate: new Date(py, pm - 1, pd) }))
    })
  }
  return generator.toCPA005() + '\r\n'
}

const [mode, file] = process.argv.slice(2)
if (mode === 'nacha') {
  process.stdout.write(JSON.stringify(await readNacha(file)))
} else if (mode === 'cpa005') {
  process.stdout.write(generateCpa005(file))
} else {
  process.stderr.write('usage: check_bank_files.mjs nacha FILE | cpa005 PAYMENTS\n')
  process.exit(2)
}
