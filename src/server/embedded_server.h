#pragma once
// The embedded server is part of the installed API; its declaration lives with the public headers.
#include "eftmemb/embedded_server.h"
