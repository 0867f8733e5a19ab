// What a simulated device has recorded: per channel, spans of recording cut into files, either as
// its settings give them or on the default schedule around the current date. Pure functions of
// the spans and the time: nothing here is stored or shared.
//
// Times on the wire are the device's local wall-clock time; here they are seconds since the
// epoch, converted with the local-time rule (mktime with the daylight-saving flag unknown).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "devsdk/proto/messages.h"
#include "sim/device/settings.h"

namespace sim::device::recordings {

// Days the default schedule reaches back, today included.
inline constexpr int kDefaultDays = 40;
// The daily gap of the default schedule: no recording from 03:00 to 04:00.
inline constexpr int kDefaultGapHour = 3;
// Nominal size of a recorded second, for the sizes a record query reports.
inline constexpr uint32_t kKibPerSecond = 256;

int64_t to_epoch(const proto::Time& t);
proto::Time from_epoch(int64_t seconds);
// Local midnight of the day `days` after the day of `seconds` (negative: before).
int64_t local_midnight(int64_t seconds, int days = 0);

// One recorded file.
struct RecordedFile {
  int32_t channel = 0;
  int64_t start = 0;  // seconds since the epoch
  int64_t end = 0;
  uint8_t record_type = 0;
};

// The spans of `channel`, sorted by start and ending at `now` at the latest: the configured
// ones, or the default schedule (hourly files over the last kDefaultDays days with the daily
// gap; the file of the current hour ends at `now`).
std::vector<RecordSpan> channel_spans(const std::optional<std::vector<RecordSpan>>& configured, int32_t channel,
                                      int64_t now);

// The files overlapping from..to (a file from a to b overlaps when a < to and b > from), in time
// order, at most `most`. Record type 0 takes every type.
std::vector<RecordedFile> files_overlapping(const std::vector<RecordSpan>& spans, int64_t from, int64_t to,
                                            uint32_t record_type, size_t most);

// Bit i set when day i + 1 of the month holds any recording of the type.
uint32_t month_mask(const std::vector<RecordSpan>& spans, int year, int month, uint32_t record_type);

// The query answer's description of a file.
proto::RecordFile describe(const RecordedFile& file);

}  // namespace sim::device::recordings
