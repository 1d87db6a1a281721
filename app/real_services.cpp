#include "app/real_services.h"

#include "engine/flash_updater.h"

namespace {

// The engine lives on the worker's stack for exactly one run; it copies the job when built.
UpdateOutcome RunFlashUpdater(const UpdateOwner& owner, const UpdateJob& job, platform::Os& os) {
  FlashUpdater updater(owner, job, os);
  return updater.Run();
}

}  // namespace

DialogServices RealDialogServices(DriveTransport& transport) {
  return DialogServices{&transport, RunFlashUpdater};
}
