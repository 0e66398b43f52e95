#pragma once
// EFTMemb, the embeddable control: declared in the public header; the library's own code
// includes this one, which also brings the screen, the host services and the request limits.
#include "control/host_services.h"
#include "eftmemb/control.h"
#include "net/http.h"
#include "ui/screen.h"
