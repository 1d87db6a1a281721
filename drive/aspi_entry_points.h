// The ASPI manager's two entry points, bound once by LoadTransport and used by the transport and
// by discovery's adapter and device queries.
#pragma once

#include "platform/aspi.h"

struct AspiEntryPoints {
  GetASPI32SupportInfoFn getSupportInfo;
  SendASPI32CommandFn sendCommand;
};

// The process-wide binding; both null until LoadTransport binds the ASPI manager.
AspiEntryPoints& BoundAspiEntryPoints();
