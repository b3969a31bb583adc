// The results the host reads from the picture entry points (and GetPictureInfo, which always answers
// 8, and ConfigurationDlg when its dialog could not be shown). Only plugin/ answers the host: the
// layers below report their failures in their own terms, and the exports map them to these codes.
#pragma once

namespace zelnar {

enum HostResult : int {
  kResultSuccess = 0,
  kResultStopped = 1,        // the host's progress callback asked to stop
  kResultNotAFile = 2,       // the input kind names memory, not a file
  kResultNoMemory = 4,       // a block could not be allocated
  kResultLockFailed = 5,     // a block could not be locked
  kResultInternalError = 8,  // anything else: the capture failed, or an error was raised
};

}  // namespace zelnar
