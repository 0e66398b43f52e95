// The export report: the text of whatever document the export page answers with, handed over
// in pieces as a transfer would (the first byte picks the piece size).
#include <algorithm>
#include <string>

#include "base/error.h"
#include "fuzz_entry.h"
#include "net/xml_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = std::max<std::size_t>(1, data[0] % 64 == 0 ? size : data[0] % 64);
    const std::string_view reply = eft::fuzz::asText(data + 1, size - 1);
    const eft::Fetch inPieces = eft::fuzz::fetchInPieces(reply, piece);
    try {
        const std::string text = eft::loadDocumentText("fuzz:EFTMemberBatch.asp?ProcessExport=True", inPieces);
        // The report is the document's character data: even a Windows-1252 reply, each byte
        // widened to at most three in UTF-8, cannot give more text than that.
        eft::fuzz::require(text.size() <= reply.size() * 3);
    } catch (const eft::EftError&) {
        // a failed export, reported through the control's one failure type
    }
    return 0;
}
