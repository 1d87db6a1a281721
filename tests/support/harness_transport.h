// How the harness reaches a simulated device through the drive transport.
#pragma once

#include "drive/drive.h"
#include "sim/device.h"

namespace enginetest {

// Puts `device` behind the transport; later commands to TransportDrive() reach it.
void AttachTransport(sim::Device& device);
void DetachTransport();
// The drive record that names the attached device.
DriveRecord TransportDrive();

}  // namespace enginetest
