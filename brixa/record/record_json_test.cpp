// The JSON answers of the record queries: keys, order, failed answers and the day flags.
#include "brixa/record/record_json.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace brixa::record {
namespace {

NET_RECORDFILE_INFO file(const char* name, NET_TIME start, NET_TIME end, uint8_t type, uint32_t size) {
  NET_RECORDFILE_INFO f{};
  strncpy(f.file_name, name, sizeof f.file_name - 1);
  f.start = start;
  f.end = end;
  f.record_type = type;
  f.size = size;
  return f;
}

TEST(RecordJson, APageRepeatsTheRequestAndListsItsFilesInOrder) {
  NET_RECORDFILE_INFO files[] = {
      file("/mnt/ch2/0001.dav", {2024, 1, 31, 23, 0, 0}, {2024, 1, 31, 23, 30, 5}, 0, 4096),
      file("/mnt/ch2/0002.dav", {2024, 1, 31, 23, 30, 5}, {2024, 2, 1, 0, 0, 0}, 2, 4294967295u),
  };
  EXPECT_EQ(record_page_json("KVR-1", 2, "20240131230000", "20240201000000", files, 2),
            "{\"dev_id\":\"KVR-1\",\"chl_id\":2,\"start\":\"20240131230000\",\"end\":\"20240201000000\","
            "\"records\":[{\"name\":\"/mnt/ch2/0001.dav\",\"start\":\"20240131230000\",\"end\":\"20240131233005\","
            "\"type\":0,\"size\":4096},{\"name\":\"/mnt/ch2/0002.dav\",\"start\":\"20240131233005\","
            "\"end\":\"20240201000000\",\"type\":2,\"size\":4294967295}]}");
}

TEST(RecordJson, AnEmptyPageHasAnEmptyListAndAFailedOneNoList) {
  NET_RECORDFILE_INFO none[1] = {};
  EXPECT_EQ(record_page_json("A", 0, "1", "2", none, 0),
            "{\"dev_id\":\"A\",\"chl_id\":0,\"start\":\"1\",\"end\":\"2\",\"records\":[]}");
  EXPECT_EQ(record_page_json("A", 0, "1", "2", nullptr, 0), "{\"dev_id\":\"A\",\"chl_id\":0,\"start\":\"1\",\"end\":\"2\"}");
}

TEST(RecordJson, AFileNameFillingItsWholeFieldIsReadWithinIt) {
  NET_RECORDFILE_INFO f{};
  memset(f.file_name, 'x', sizeof f.file_name);  // no terminator inside the field
  f.frame_count = 0x41414141;                    // what follows it must not be read as text
  std::string json = record_page_json("A", 0, "1", "2", &f, 1);
  EXPECT_NE(json.find("\"name\":\"" + std::string(sizeof f.file_name, 'x') + "\""), std::string::npos) << json;
}

TEST(RecordJson, TheMonthFlagHas31CharactersOneForEachDay) {
  NET_RECORD_STATUS status{};
  status.day_flags[0] = 1;
  status.day_flags[30] = 7;
  status.day_flags[31] = 1;  // a 32nd entry is not a day
  EXPECT_EQ(record_status_json("KVR-1", 3, "202401", &status),
            "{\"dev_id\":\"KVR-1\",\"chl_id\":3,\"month\":\"202401\",\"flag\":\"1" + std::string(29, '0') + "1\"}");
  EXPECT_EQ(record_status_json("KVR-1", 3, "202401", nullptr), "{\"dev_id\":\"KVR-1\",\"chl_id\":3,\"month\":\"202401\"}");
}

}  // namespace
}  // namespace brixa::record
