// result_record.h - the figures a client role hands back to the measuring
// side: named 64-bit integers (nanoseconds, counts), carried as text lines
// "name=value" in a file when the client ran in a child process. Portable.
#ifndef TRANSPORT_BENCH_RESULT_RECORD_H
#define TRANSPORT_BENCH_RESULT_RECORD_H

#include <cstdint>
#include <map>
#include <string>

namespace transport_bench {

using ResultRecord = std::map<std::string, int64_t>;

// One "name=value\n" line per entry, in name order.
std::string FormatRecord(const ResultRecord& record);

// Reads text written by FormatRecord (a trailing "\r" on a line is dropped).
// False, with *record left partly filled, on a line without "=", with an
// empty name or with a value that is not a whole decimal int64.
bool ParseRecord(const std::string& text, ResultRecord* record);

}  // namespace transport_bench

#endif  // TRANSPORT_BENCH_RESULT_RECORD_H
