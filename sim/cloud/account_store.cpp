#include "sim/cloud/account_store.h"

#include <sqlite3.h>

#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <vector>

#include "platform/json/json_integer.h"

namespace sim::cloud {
namespace {

constexpr const char* kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS applications(
  app_key TEXT PRIMARY KEY, app_pass TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS accounts(
  id INTEGER PRIMARY KEY, user_name TEXT UNIQUE NOT NULL, password TEXT NOT NULL,
  devs_sn INTEGER NOT NULL, cams_sn INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS devices(
  account_id INTEGER NOT NULL, position INTEGER NOT NULL, dev_id TEXT NOT NULL,
  dev_user TEXT NOT NULL, dev_pass TEXT NOT NULL, name TEXT NOT NULL, vendor TEXT NOT NULL,
  model TEXT NOT NULL, status_sp INTEGER NOT NULL, dev_port INTEGER NOT NULL,
  dev_http_port INTEGER NOT NULL, channels TEXT NOT NULL,
  PRIMARY KEY(account_id, position));
CREATE TABLE IF NOT EXISTS camera_groups(
  id INTEGER PRIMARY KEY, account_id INTEGER NOT NULL, parent_id INTEGER,
  position INTEGER NOT NULL, attributes TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS cameras(
  account_id INTEGER NOT NULL, cam_id TEXT NOT NULL, group_id INTEGER, position INTEGER NOT NULL,
  sn INTEGER NOT NULL, shared INTEGER NOT NULL, name TEXT NOT NULL, type INTEGER NOT NULL,
  devid TEXT NOT NULL, chlid INTEGER NOT NULL, dev_user TEXT NOT NULL, dev_pass TEXT NOT NULL,
  onvif_port INTEGER NOT NULL, state INTEGER NOT NULL, pic_sn TEXT NOT NULL, ptz INTEGER NOT NULL,
  PRIMARY KEY(account_id, cam_id));
)SQL";

// One prepared statement with positional binding; throws on SQLite errors.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) fail();
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(int i, int64_t v) {
    check(sqlite3_bind_int64(stmt_, i, v));
    return *this;
  }
  Statement& bind(int i, const std::string& v) {
    check(sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT));
    return *this;
  }
  Statement& bind_null(int i) {
    check(sqlite3_bind_null(stmt_, i));
    return *this;
  }
  Statement& bind_optional(int i, std::optional<int64_t> v) { return v ? bind(i, *v) : bind_null(i); }
  // True while there is a row.
  bool step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) fail();
    return false;
  }
  void run() {
    step();
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  int64_t integer(int col) const { return sqlite3_column_int64(stmt_, col); }
  bool is_null(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
  std::string text(int col) const {
    const unsigned char* t = sqlite3_column_text(stmt_, col);
    return t != nullptr ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_column_bytes(stmt_, col)))
                        : std::string();
  }

 private:
  void check(int rc) {
    if (rc != SQLITE_OK) fail();
  }
  [[noreturn]] void fail() { throw std::runtime_error(sqlite3_errmsg(db_)); }
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

void exec(sqlite3* db, const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message != nullptr ? message : "sqlite error";
    sqlite3_free(message);
    throw std::runtime_error(text);
  }
}

// Commits when committed, else rolls back.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db) { exec(db, "BEGIN IMMEDIATE"); }
  ~Transaction() {
    if (!done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  void commit() {
    exec(db_, "COMMIT");
    done_ = true;
  }

 private:
  sqlite3* db_;
  bool done_ = false;
};

std::string text_member(const cJSON* object, const char* name, const std::string& fallback = "") {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
  return cJSON_IsString(item) ? std::string(item->valuestring) : fallback;
}

// Lists arrive from clients: a number that is no 64-bit integer reads as absent.
int64_t number_member(const cJSON* object, const char* name, int64_t fallback = 0) {
  return platform::json_integer_member<int64_t>(object, name).value_or(fallback);
}

// "shared" arrives as a number from the fixture and as "true"/"false" from the control.
int64_t flag_member(const cJSON* object, const char* name, int64_t fallback) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
  if (cJSON_IsString(item)) return std::string(item->valuestring) == "true" ? 1 : 0;
  if (cJSON_IsBool(item)) return cJSON_IsTrue(item) ? 1 : 0;
  return number_member(object, name, fallback);
}

std::string print_unformatted(const cJSON* item) {
  char* text = cJSON_PrintUnformatted(item);
  std::string out = text != nullptr ? text : "null";
  cJSON_free(text);
  return out;
}

struct CameraFields {
  std::string id, name, devid, dev_user, dev_pass, pic_sn;
  int64_t sn = 0, shared = 0, type = 0, chlid = 0, onvif_port = 0, state = 0, ptz = 0;
};

constexpr const char* kInsertCamera =
    "INSERT INTO cameras(account_id, cam_id, group_id, position, sn, shared, name, type, devid, chlid,"
    " dev_user, dev_pass, onvif_port, state, pic_sn, ptz) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";

void insert_camera(sqlite3* db, int64_t account, std::optional<int64_t> group, int64_t position,
                   const CameraFields& c) {
  Statement s(db, kInsertCamera);
  s.bind(1, account).bind(2, c.id).bind_optional(3, group).bind(4, position).bind(5, c.sn).bind(6, c.shared);
  s.bind(7, c.name).bind(8, c.type).bind(9, c.devid).bind(10, c.chlid).bind(11, c.dev_user).bind(12, c.dev_pass);
  s.bind(13, c.onvif_port).bind(14, c.state).bind(15, c.pic_sn).bind(16, c.ptz);
  s.run();
}

CameraFields camera_from_json(const cJSON* cam, int64_t default_sn) {
  CameraFields c;
  c.id = text_member(cam, "id");
  c.name = text_member(cam, "name", c.id);
  c.devid = text_member(cam, "devid");
  c.dev_user = text_member(cam, "dev_user");
  c.dev_pass = text_member(cam, "dev_pass");
  c.pic_sn = text_member(cam, "pic_sn");
  c.sn = number_member(cam, "sn", default_sn);
  c.shared = flag_member(cam, "shared", 0);
  c.type = number_member(cam, "type");
  c.chlid = number_member(cam, "chlid");
  c.onvif_port = number_member(cam, "onvif_port");
  c.state = number_member(cam, "state");
  c.ptz = number_member(cam, "ptz");
  return c;
}

int64_t insert_group(sqlite3* db, int64_t account, std::optional<int64_t> parent, int64_t position,
                     const std::string& attributes) {
  Statement s(db, "INSERT INTO camera_groups(account_id, parent_id, position, attributes) VALUES(?,?,?,?)");
  s.bind(1, account).bind_optional(2, parent).bind(3, position).bind(4, attributes);
  s.run();
  return sqlite3_last_insert_rowid(db);
}

// Stores a group's subgroups and cameras from a JSON tree (the set method's content).
void insert_tree_json(sqlite3* db, int64_t account, std::optional<int64_t> group, const cJSON* node,
                      int64_t default_sn) {
  const cJSON* groups = cJSON_GetObjectItemCaseSensitive(node, "groups");
  int64_t position = 0;
  if (cJSON_IsArray(groups)) {
    for (const cJSON* g = groups->child; g != nullptr; g = g->next, ++position) {
      if (!cJSON_IsObject(g)) continue;
      std::unique_ptr<cJSON, decltype(&cJSON_Delete)> attributes(cJSON_Duplicate(g, true), cJSON_Delete);
      cJSON_DeleteItemFromObjectCaseSensitive(attributes.get(), "groups");
      cJSON_DeleteItemFromObjectCaseSensitive(attributes.get(), "cams");
      int64_t id = insert_group(db, account, group, position, print_unformatted(attributes.get()));
      insert_tree_json(db, account, id, g, default_sn);
    }
  }
  const cJSON* cams = cJSON_GetObjectItemCaseSensitive(node, "cams");
  position = 0;
  if (cJSON_IsArray(cams)) {
    for (const cJSON* cam = cams->child; cam != nullptr; cam = cam->next, ++position)
      if (cJSON_IsObject(cam)) insert_camera(db, account, group, position, camera_from_json(cam, default_sn));
  }
}

// Stores a fixture group's subgroups and cameras.
void insert_tree_fixture(sqlite3* db, int64_t account, std::optional<int64_t> group, const fixture::Group& node) {
  int64_t position = 0;
  for (const fixture::Group& g : node.groups) {
    int64_t id = insert_group(db, account, group, position++, g.attributes);
    insert_tree_fixture(db, account, id, g);
  }
  position = 0;
  for (const fixture::Camera& cam : node.cams) {
    CameraFields c;
    c.id = cam.id;
    c.name = cam.name;
    c.devid = cam.devid;
    c.dev_user = cam.dev_user;
    c.dev_pass = cam.dev_pass;
    c.pic_sn = cam.pic_sn;
    c.sn = cam.sn;
    c.shared = cam.shared;
    c.type = cam.type;
    c.chlid = cam.chlid;
    c.onvif_port = cam.onvif_port;
    c.state = cam.state;
    c.ptz = cam.ptz;
    insert_camera(db, account, group, position++, c);
  }
}

void delete_tree(sqlite3* db, int64_t account) {
  Statement(db, "DELETE FROM cameras WHERE account_id = ?").bind(1, account).run();
  Statement(db, "DELETE FROM camera_groups WHERE account_id = ?").bind(1, account).run();
}

int64_t bump(sqlite3* db, int64_t account, const char* column) {
  std::string sql = std::string("UPDATE accounts SET ") + column + " = " + column + " + 1 WHERE id = ?";
  Statement(db, sql.c_str()).bind(1, account).run();
  std::string read = std::string("SELECT ") + column + " FROM accounts WHERE id = ?";
  Statement s(db, read.c_str());
  s.bind(1, account);
  return s.step() ? s.integer(0) : 0;
}

}  // namespace

AccountStore::AccountStore(const std::string& path) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    throw std::runtime_error("cannot open " + path + ": " + message);
  }
  try {
    exec(db_, kSchema);
  } catch (...) {
    sqlite3_close(db_);
    throw;
  }
}

AccountStore::~AccountStore() { sqlite3_close(db_); }

bool AccountStore::seed(const fixture::Fixture& f, std::string& error) {
  std::lock_guard<std::mutex> hold(lock_);
  try {
    Transaction tx(db_);
    exec(db_, "DELETE FROM cameras; DELETE FROM camera_groups; DELETE FROM devices; DELETE FROM accounts;"
              " DELETE FROM applications;");
    for (const fixture::Application& app : f.applications)
      Statement(db_, "INSERT INTO applications(app_key, app_pass) VALUES(?,?)").bind(1, app.app_key).bind(2, app.app_pass).run();
    for (const fixture::Account& a : f.accounts) {
      Statement(db_, "INSERT INTO accounts(user_name, password, devs_sn, cams_sn) VALUES(?,?,?,?)")
          .bind(1, a.user).bind(2, a.password).bind(3, a.devs_sn).bind(4, a.cams_sn).run();
      int64_t account = sqlite3_last_insert_rowid(db_);
      int64_t position = 0;
      for (const fixture::Device& d : a.devices) {
        std::unique_ptr<cJSON, decltype(&cJSON_Delete)> channels(cJSON_CreateArray(), cJSON_Delete);
        for (const std::string& c : d.channels) cJSON_AddItemToArray(channels.get(), cJSON_CreateString(c.c_str()));
        Statement s(db_,
                    "INSERT INTO devices(account_id, position, dev_id, dev_user, dev_pass, name, vendor, model,"
                    " status_sp, dev_port, dev_http_port, channels) VALUES(?,?,?,?,?,?,?,?,?,?,?,?)");
        s.bind(1, account).bind(2, position++).bind(3, d.dev_id).bind(4, d.dev_user).bind(5, d.dev_pass);
        s.bind(6, d.name).bind(7, d.vendor).bind(8, d.model).bind(9, d.status_sp).bind(10, d.dev_port);
        s.bind(11, d.dev_http_port).bind(12, print_unformatted(channels.get()));
        s.run();
      }
      insert_tree_fixture(db_, account, std::nullopt, a.cameras);
    }
    tx.commit();
    return true;
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
}

std::optional<std::string> AccountStore::app_pass(const std::string& app_key) {
  std::lock_guard<std::mutex> hold(lock_);
  Statement s(db_, "SELECT app_pass FROM applications WHERE app_key = ?");
  s.bind(1, app_key);
  if (!s.step()) return std::nullopt;
  return s.text(0);
}

std::optional<AccountRow> AccountStore::account(const std::string& user) {
  std::lock_guard<std::mutex> hold(lock_);
  Statement s(db_, "SELECT id, user_name, password, devs_sn, cams_sn FROM accounts WHERE user_name = ?");
  s.bind(1, user);
  if (!s.step()) return std::nullopt;
  return AccountRow{s.integer(0), s.text(1), s.text(2), s.integer(3), s.integer(4)};
}

cJSON* AccountStore::device_list(int64_t account) {
  std::lock_guard<std::mutex> hold(lock_);
  cJSON* root = cJSON_CreateObject();
  cJSON* devs = cJSON_AddArrayToObject(root, "devs");
  Statement s(db_,
              "SELECT dev_id, dev_user, dev_pass, name, vendor, model, status_sp, dev_port, dev_http_port, channels"
              " FROM devices WHERE account_id = ? ORDER BY position");
  s.bind(1, account);
  while (s.step()) {
    cJSON* d = cJSON_CreateObject();
    cJSON_AddStringToObject(d, "dev_id", s.text(0).c_str());
    cJSON_AddStringToObject(d, "dev_user", s.text(1).c_str());
    cJSON_AddStringToObject(d, "dev_pass", s.text(2).c_str());
    cJSON_AddStringToObject(d, "name", s.text(3).c_str());
    cJSON_AddStringToObject(d, "vendor", s.text(4).c_str());
    cJSON_AddStringToObject(d, "model", s.text(5).c_str());
    cJSON_AddNumberToObject(d, "status_sp", static_cast<double>(s.integer(6)));
    cJSON_AddNumberToObject(d, "dev_port", static_cast<double>(s.integer(7)));
    cJSON_AddNumberToObject(d, "dev_http_port", static_cast<double>(s.integer(8)));
    cJSON* channels = cJSON_Parse(s.text(9).c_str());
    cJSON_AddItemToObject(d, "channels", channels != nullptr ? channels : cJSON_CreateArray());
    cJSON_AddItemToArray(devs, d);
  }
  return root;
}

cJSON* AccountStore::camera_list(int64_t account) {
  std::lock_guard<std::mutex> hold(lock_);
  // Group id (0 for the root) to its JSON node.
  std::map<int64_t, cJSON*> nodes;
  cJSON* root = cJSON_CreateObject();
  nodes[0] = root;
  cJSON_AddArrayToObject(root, "groups");
  cJSON_AddArrayToObject(root, "cams");

  struct GroupRow {
    int64_t id, parent;
    std::string attributes;
  };
  std::vector<GroupRow> groups;
  {
    Statement s(db_, "SELECT id, parent_id, attributes FROM camera_groups WHERE account_id = ? ORDER BY position, id");
    s.bind(1, account);
    while (s.step()) groups.push_back({s.integer(0), s.is_null(1) ? 0 : s.integer(1), s.text(2)});
  }
  for (const GroupRow& g : groups) {
    cJSON* node = cJSON_Parse(g.attributes.c_str());
    if (!cJSON_IsObject(node)) {
      cJSON_Delete(node);
      node = cJSON_CreateObject();
    }
    cJSON_AddArrayToObject(node, "groups");
    cJSON_AddArrayToObject(node, "cams");
    nodes[g.id] = node;
  }
  // Attach in position order under each parent; a group whose parent is gone hangs at the root.
  for (const GroupRow& g : groups) {
    auto parent = nodes.find(g.parent);
    cJSON* into = parent != nodes.end() ? parent->second : root;
    cJSON_AddItemToArray(cJSON_GetObjectItemCaseSensitive(into, "groups"), nodes[g.id]);
  }

  Statement s(db_,
              "SELECT cam_id, sn, shared, name, type, devid, chlid, dev_user, dev_pass, onvif_port, state, pic_sn,"
              " ptz, group_id FROM cameras WHERE account_id = ? ORDER BY position, cam_id");
  s.bind(1, account);
  while (s.step()) {
    cJSON* c = cJSON_CreateObject();
    cJSON_AddStringToObject(c, "id", s.text(0).c_str());
    cJSON_AddNumberToObject(c, "sn", static_cast<double>(s.integer(1)));
    cJSON_AddNumberToObject(c, "shared", static_cast<double>(s.integer(2)));
    cJSON_AddStringToObject(c, "name", s.text(3).c_str());
    cJSON_AddNumberToObject(c, "type", static_cast<double>(s.integer(4)));
    cJSON_AddStringToObject(c, "devid", s.text(5).c_str());
    cJSON_AddNumberToObject(c, "chlid", static_cast<double>(s.integer(6)));
    cJSON_AddStringToObject(c, "dev_user", s.text(7).c_str());
    cJSON_AddStringToObject(c, "dev_pass", s.text(8).c_str());
    cJSON_AddNumberToObject(c, "onvif_port", static_cast<double>(s.integer(9)));
    cJSON_AddNumberToObject(c, "state", static_cast<double>(s.integer(10)));
    cJSON_AddStringToObject(c, "pic_sn", s.text(11).c_str());
    cJSON_AddNumberToObject(c, "ptz", static_cast<double>(s.integer(12)));
    auto group = nodes.find(s.is_null(13) ? 0 : s.integer(13));
    cJSON* into = group != nodes.end() ? group->second : root;
    cJSON_AddItemToArray(cJSON_GetObjectItemCaseSensitive(into, "cams"), c);
  }
  return root;
}

std::optional<int64_t> AccountStore::store_device_list(int64_t account, const cJSON* list, bool bump_serial) {
  const cJSON* devs = cJSON_GetObjectItemCaseSensitive(list, "devs");
  if (!cJSON_IsArray(devs)) return std::nullopt;
  std::lock_guard<std::mutex> hold(lock_);
  Transaction tx(db_);
  Statement(db_, "DELETE FROM devices WHERE account_id = ?").bind(1, account).run();
  int64_t position = 0;
  for (const cJSON* d = devs->child; d != nullptr; d = d->next) {
    if (!cJSON_IsObject(d)) continue;
    const cJSON* channels = cJSON_GetObjectItemCaseSensitive(d, "channels");
    Statement s(db_,
                "INSERT INTO devices(account_id, position, dev_id, dev_user, dev_pass, name, vendor, model,"
                " status_sp, dev_port, dev_http_port, channels) VALUES(?,?,?,?,?,?,?,?,?,?,?,?)");
    s.bind(1, account).bind(2, position++).bind(3, text_member(d, "dev_id")).bind(4, text_member(d, "dev_user"));
    s.bind(5, text_member(d, "dev_pass")).bind(6, text_member(d, "name")).bind(7, text_member(d, "vendor"));
    s.bind(8, text_member(d, "model")).bind(9, number_member(d, "status_sp")).bind(10, number_member(d, "dev_port"));
    s.bind(11, number_member(d, "dev_http_port")).bind(12, cJSON_IsArray(channels) ? print_unformatted(channels) : "[]");
    s.run();
  }
  int64_t serial = bump_serial ? bump(db_, account, "devs_sn") : 0;
  if (!bump_serial) {
    Statement s(db_, "SELECT devs_sn FROM accounts WHERE id = ?");
    s.bind(1, account);
    serial = s.step() ? s.integer(0) : 0;
  }
  tx.commit();
  return serial;
}

std::optional<int64_t> AccountStore::store_camera_list(int64_t account, const cJSON* list) {
  const cJSON* groups = cJSON_GetObjectItemCaseSensitive(list, "groups");
  const cJSON* cams = cJSON_GetObjectItemCaseSensitive(list, "cams");
  if (!cJSON_IsArray(groups) && !cJSON_IsArray(cams)) return std::nullopt;
  std::lock_guard<std::mutex> hold(lock_);
  Transaction tx(db_);
  int64_t serial = bump(db_, account, "cams_sn");
  if (cJSON_IsArray(groups)) {
    delete_tree(db_, account);
    insert_tree_json(db_, account, std::nullopt, list, serial);
    tx.commit();
    return serial;
  }
  // A flat list: update by id in place, add new cameras at the top level, drop the others.
  std::set<std::string> named;
  int64_t next_top = 0;
  {
    Statement s(db_, "SELECT COALESCE(MAX(position) + 1, 0) FROM cameras WHERE account_id = ? AND group_id IS NULL");
    s.bind(1, account);
    if (s.step()) next_top = s.integer(0);
  }
  for (const cJSON* cam = cams->child; cam != nullptr; cam = cam->next) {
    if (!cJSON_IsObject(cam)) continue;
    CameraFields c = camera_from_json(cam, serial);
    if (c.id.empty() || !named.insert(c.id).second) continue;
    Statement find(db_, "SELECT sn, onvif_port, pic_sn FROM cameras WHERE account_id = ? AND cam_id = ?");
    find.bind(1, account).bind(2, c.id);
    if (find.step()) {
      // Members the control does not write keep their stored values.
      if (cJSON_GetObjectItemCaseSensitive(cam, "onvif_port") == nullptr) c.onvif_port = find.integer(1);
      if (cJSON_GetObjectItemCaseSensitive(cam, "pic_sn") == nullptr) c.pic_sn = find.text(2);
      c.sn = find.integer(0);
      Statement s(db_,
                  "UPDATE cameras SET shared = ?, name = ?, type = ?, devid = ?, chlid = ?, dev_user = ?, dev_pass = ?,"
                  " onvif_port = ?, state = ?, pic_sn = ?, ptz = ? WHERE account_id = ? AND cam_id = ?");
      s.bind(1, c.shared).bind(2, c.name).bind(3, c.type).bind(4, c.devid).bind(5, c.chlid).bind(6, c.dev_user);
      s.bind(7, c.dev_pass).bind(8, c.onvif_port).bind(9, c.state).bind(10, c.pic_sn).bind(11, c.ptz);
      s.bind(12, account).bind(13, c.id);
      s.run();
    } else {
      insert_camera(db_, account, std::nullopt, next_top++, c);
    }
  }
  std::vector<std::string> gone;
  {
    Statement s(db_, "SELECT cam_id FROM cameras WHERE account_id = ?");
    s.bind(1, account);
    while (s.step())
      if (named.count(s.text(0)) == 0) gone.push_back(s.text(0));
  }
  for (const std::string& id : gone)
    Statement(db_, "DELETE FROM cameras WHERE account_id = ? AND cam_id = ?").bind(1, account).bind(2, id).run();
  tx.commit();
  return serial;
}

}  // namespace sim::cloud
