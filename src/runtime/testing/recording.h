// The test driver's records of what the real panel showed. Private to
// src/runtime/testing.
#pragma once

namespace rt_test {

// Forgets the status texts and the last file dialog recorded so far.
void ForgetRecords();

}  // namespace rt_test
