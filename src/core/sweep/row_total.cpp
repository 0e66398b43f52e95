#include "sweep/row_total.h"

#include "text/text_forms.h"

namespace eft {

float sweepRowTotal(float in, float out, bool subscription, float centerOutSum) {
    if (subscription && centerOutSum < 0) return text::roundHalfEven2(out);
    return text::roundHalfEven2(in + out);
}

}  // namespace eft
