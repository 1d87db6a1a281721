#include "app/real_services.h"

#include "drive/drive_transport.h"
#include "engine/flash_updater.h"

namespace {

// The engine lives on the worker's stack for exactly one run; it copies the job when built.
UpdateOutcome RunFlashUpdater(const UpdateOwner& owner, const UpdateJob& job) {
  FlashUpdater updater(owner, job);
  return updater.Run();
}

}  // namespace

DialogServices RealDialogServices() {
  return DialogServices{TransportFor, ReleaseDrives, RunFlashUpdater};
}
