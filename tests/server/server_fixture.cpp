#include "server_fixture.h"

#include <vector>

#include "net/pages.h"
#include "server/save_record.h"

namespace eft::server::testing {

std::string ServerFixture::bodyFor(std::initializer_list<ChargeKey> keys, std::int32_t personId,
                                   std::int16_t personType) {
    std::vector<std::string> records;
    for (const ChargeKey& wanted : keys) {
        bool found = false;
        for (const int country : {1, 2}) {
            inspect.forEachSweepRow(country, [&](const SweepRowView& r) {
                if (!(r.key == wanted)) return;
                records.push_back(controlRecordText(r.key, r.type, r.amounts, r.salesTaxExempt,
                                                                    r.subscription, r.trustId, personId, personType));
                found = true;
            });
        }
        if (!found) ADD_FAILURE() << "charge of member " << wanted.memberId << " is not in the sweep";
    }
    return pages::saveBody(records);
}

}  // namespace eft::server::testing
