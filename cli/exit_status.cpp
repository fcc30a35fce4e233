#include "exit_status.h"

namespace cvm6 {

int ExitStatusFor(UpdateResult result) {
  switch (result) {
    case UpdateResult::kDone: return kDone;
    case UpdateResult::kPortNotOpened:
    case UpdateResult::kPortUnusable: return kPortNotOpened;
    case UpdateResult::kDeviceNotFound:
    case UpdateResult::kNotIdentified: return kDeviceNotFound;
    case UpdateResult::kWrongDevice: return kWrongDevice;
    case UpdateResult::kCancelled: return kCancelled;
    case UpdateResult::kNoImage:
    case UpdateResult::kImageRefused: return kNoImage;
    case UpdateResult::kDownloadFailed: return kDownloadFailed;
    case UpdateResult::kCommunicationError:
    case UpdateResult::kNone:
    case UpdateResult::kConnected: break;  // a procedure that stopped without an outcome
  }
  return kCommunicationError;
}

const char* ResultName(UpdateResult result) {
  switch (result) {
    case UpdateResult::kDone: return "done";
    case UpdateResult::kPortNotOpened: return "port not opened";
    case UpdateResult::kPortUnusable: return "not a serial port";
    case UpdateResult::kDeviceNotFound: return "device not found";
    case UpdateResult::kNotIdentified: return "not identified";
    case UpdateResult::kWrongDevice: return "wrong device";
    case UpdateResult::kCancelled: return "cancelled";
    case UpdateResult::kNoImage: return "no image";
    case UpdateResult::kImageRefused: return "image refused";
    case UpdateResult::kDownloadFailed: return "download failed";
    case UpdateResult::kCommunicationError: return "communication error";
    case UpdateResult::kNone:
    case UpdateResult::kConnected: break;
  }
  return "stopped";
}

}  // namespace cvm6
