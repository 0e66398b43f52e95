#pragma once
// What the control asks of its host and the notices it gives: declared with the public
// control, since hosts implement them.
#include "base/calendar.h"
#include "eftmemb/control.h"
#include "ui/screen.h"
