// The exit statuses of the commands that print once and end, as bits a
// script can test (the menu ends with 0, 1 or 2 alone).
#pragma once

namespace kestran::exit_status {

constexpr int kAllRead = 0;
constexpr int kOutputLost = 1;      // standard output could not be written
constexpr int kUnusable = 2;        // command line, pack file or bus unusable
constexpr int kReadsFailed = 4;     // some reads failed, or the gauge did not answer
constexpr int kNotIdentified = 32;  // the family could not be told: the generic report (key 4) recommended
constexpr int kNotSaved = 64;       // --save: the reading could not be saved

}  // namespace kestran::exit_status
