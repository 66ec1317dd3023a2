#include "platform/platform.h"

#include <gtest/gtest.h>

#include "sweep/sweep.h"

namespace kerv {
namespace {

// Each system error code, the number the old runtime turned it into, what
// it means, and the one message the user sees for it.
TEST(Win32Errors, MeaningAndMessage) {
  struct Row { long Code; int Number; TFsError Kind; const char* Message; };
  const Row Rows[] = {
      {2, 2, TFsError::NotFound, "Invalid path or filename!"},      // file not found
      {3, 2, TFsError::NotFound, "Invalid path or filename!"},      // path not found
      {18, 2, TFsError::NotFound, "Invalid path or filename!"},     // no more files
      {53, 2, TFsError::NotFound, "Invalid path or filename!"},     // bad network path
      {67, 2, TFsError::NotFound, "Invalid path or filename!"},     // bad network name
      {123, 2, TFsError::NotFound, "Invalid path or filename!"},    // invalid name
      {5, 5, TFsError::AccessDenied, "Permission denied!"},          // access denied
      {16, 5, TFsError::AccessDenied, "Permission denied!"},         // current directory
      {32, 5, TFsError::AccessDenied, "Permission denied!"},         // sharing violation
      {33, 5, TFsError::AccessDenied, "Permission denied!"},         // lock violation
      {145, 5, TFsError::AccessDenied, "Permission denied!"},        // directory not empty
      {19, 19, TFsError::Other, "I/O Error number:19"},              // write protected
      {50, 15, TFsError::NoDevice, "Invalid device!"},               // not supported
      {55, 15, TFsError::NoDevice, "Invalid device!"},               // device gone
      {66, 15, TFsError::NoDevice, "Invalid device!"},               // bad device type
      {112, 112, TFsError::Other, "I/O Error number:112"},           // disk full: its own number
      {299, 19, TFsError::Other, "I/O Error number:19"},             // above 298
      {1920, 19, TFsError::Other, "I/O Error number:19"},
  };
  for (const Row& R : Rows) {
    SCOPED_TRACE(R.Code);
    const TFsStatus Status = SystemErrorStatus(R.Code);
    EXPECT_EQ(R.Kind, Status.Kind);
    EXPECT_EQ(R.Number, Status.Code);
    EXPECT_EQ(R.Message, ErrorMessage(Status));
  }
  EXPECT_FALSE(SystemErrorStatus(0).Failed());
}

}  // namespace
}  // namespace kerv
