// The native Linux transport: drives found as /dev/sr* by path, commands carried by SG_IO.
#pragma once

#include "drive/numbered_transport.h"

// /dev/sr0 to /dev/sr23 in order, each asked an INQUIRY as on the NT family; a command's result
// tells a host or driver error from a failed ioctl. Device number N is /dev/srN, opened through
// the platform's openDevice.
NumberedTransport& SgIoTransport();
