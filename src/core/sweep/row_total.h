#pragma once
// The "Total" of a sweep row: what the member list shows for it and what a saved row carries
// into its batch. One rule for the control and the server, so the two can never disagree.
namespace eft {

// `in` and `out` are the row's INRowTotal and OUTRowTotal; `centerPaysOut` says whether the OUT
// sum of its center so far, in sweep order, this row included, is below zero. A subscription row
// of a center that pays out counts only its own OUT amount. Rounded to cents, half to even, in
// single precision.
float sweepRowTotal(float in, float out, bool subscription, bool centerPaysOut);

}  // namespace eft
