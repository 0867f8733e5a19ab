// The cloud service's store: applications, accounts with their list serial numbers, devices,
// and the camera tree (groups at any depth), in SQLite. Seeded from a fixture; changed by the
// set methods. Safe to use from several threads (one lock around the database).
#pragma once

#include <cjson/cJSON.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "sim/fixture/fixture.h"

struct sqlite3;

namespace sim::cloud {

struct AccountRow {
  int64_t id = 0;
  std::string user;
  std::string password;
  int64_t devs_sn = 0;
  int64_t cams_sn = 0;
};

class AccountStore {
 public:
  // `path` is a database file, or ":memory:". Throws std::runtime_error when it cannot be
  // opened or its tables cannot be made.
  explicit AccountStore(const std::string& path);
  ~AccountStore();
  AccountStore(const AccountStore&) = delete;
  AccountStore& operator=(const AccountStore&) = delete;

  // Replaces everything in the store with the fixture's contents.
  bool seed(const fixture::Fixture& fixture, std::string& error);

  std::optional<std::string> app_pass(const std::string& app_key);
  std::optional<AccountRow> account(const std::string& user);

  // {"devs": [...]} with every member in clear. The caller frees the document.
  cJSON* device_list(int64_t account_id);
  // {"groups": [...], "cams": [...]}, groups nested as stored, members in clear.
  cJSON* camera_list(int64_t account_id);

  // Replaces the account's devices with the "devs" of `list` (secrets already in clear).
  // Bumps the device-list serial when `bump` is set. Returns the serial after the change, or
  // nothing when `list` has no "devs" array.
  std::optional<int64_t> store_device_list(int64_t account_id, const cJSON* list, bool bump);
  // Writes the cameras of `list` (secrets in clear) and bumps the camera-list serial. A list
  // with "groups" replaces the whole tree. A list with only "cams" (what the control writes)
  // updates cameras by "id" where they stand, adds new ones at the top level with the new
  // serial as their "sn", and removes cameras it does not name; groups stay. Returns the new
  // serial, or nothing when `list` has neither array.
  std::optional<int64_t> store_camera_list(int64_t account_id, const cJSON* list);

 private:
  sqlite3* db_ = nullptr;  // guarded by lock_
  std::mutex lock_;
};

}  // namespace sim::cloud
