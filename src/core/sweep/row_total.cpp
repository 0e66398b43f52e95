#include "sweep/row_total.h"

#include "text/text_forms.h"

namespace eft {

float sweepRowTotal(float in, float out, bool subscription, bool centerPaysOut) {
    if (subscription && centerPaysOut) return text::roundHalfEven2(out);
    return text::roundHalfEven2(in + out);
}

}  // namespace eft
