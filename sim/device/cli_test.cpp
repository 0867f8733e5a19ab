// The commands a user runs: `kavrel-sim tunnel` and `kavrel-sim device --fixture <file> --tunnel
// <port>` as separate processes, and a client of libbrixa.so that logs in by device identifier.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "brixa/api/brixa.h"

extern char** environ;

namespace {

// A child process whose standard output the test reads line by line. Stopped with SIGTERM.
class Child {
 public:
  explicit Child(std::vector<std::string> args) {
    int out[2];
    if (::pipe(out) != 0) return;
    int in[2];  // kept open so the tunnel service keeps reading commands
    if (::pipe(in) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(in[0]);
    out_ = out[0];
    in_ = in[1];
  }
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (out_ >= 0) ::close(out_);
    if (in_ >= 0) ::close(in_);
  }
  bool running() const { return pid_ > 0; }

  // The first line of output that starts with `prefix`, waiting up to 10 s.
  std::string line_starting(const std::string& prefix) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      size_t nl;
      while ((nl = buffer_.find('\n')) != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        if (line.rfind(prefix, 0) == 0) return line;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return "";
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
      char chunk[512];
      ssize_t n = ::read(out_, chunk, sizeof chunk);
      if (n <= 0) return "";
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int in_ = -1;
  std::string buffer_;
};

// The number after the last ':' of a line (up to a comma or the end).
int port_in(const std::string& line, const std::string& after) {
  size_t at = line.find(after);
  if (at == std::string::npos) return -1;
  return std::atoi(line.c_str() + at + after.size());
}

TEST(KavrelSimCommands, BrixaLogsInByDeviceIdentifierThroughBothSimulators) {
  Child tunnel({KAVREL_SIM, "tunnel"});
  ASSERT_TRUE(tunnel.running());
  int service_port = port_in(tunnel.line_starting("tunnel service on"), "127.0.0.1:");
  ASSERT_GT(service_port, 0);

  char fixture_path[] = "/tmp/kavrel-fixture-XXXXXX";
  int fd = ::mkstemp(fixture_path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  {
    std::ofstream f(fixture_path);
    f << R"({"applications": [], "accounts": [{"user": "demo", "password": "demo-password", "devices": [
          {"dev_id": "KVR-CLI-1", "dev_user": "admin", "dev_pass": "admin-pass", "name": "Loja Centro",
           "channel_count": 2, "dev_port": 37777, "dev_http_port": 80,
           "device": {"https_port": 8443, "alarm_outputs": [0, 1]}}]}]})";
  }
  Child device({KAVREL_SIM, "device", "--fixture", fixture_path, "--tunnel", std::to_string(service_port)});
  ASSERT_TRUE(device.running());
  std::string line = device.line_starting("device KVR-CLI-1");
  ::unlink(fixture_path);
  ASSERT_NE(line, "");
  EXPECT_EQ(port_in(line, "through the tunnel as port "), 37777);

  brixa_init("127.0.0.1", static_cast<uint16_t>(service_port), "");
  brixa_handle client = brixa_create();
  ASSERT_NE(client, nullptr);
  brixa_connection connection = brixa_create_connect(client, "KVR-CLI-1", 37777, 0);
  ASSERT_NE(connection, nullptr);
  int32_t mapped = brixa_connnect_get_mapped_port(client, connection);
  ASSERT_GT(mapped, 0);
  // The device registers with the service shortly after it starts; a login before that fails.
  int32_t result = -1;
  for (int i = 0; i < 100 && result != 0; ++i) {
    result = brixa_login(client, "KVR-CLI-1", static_cast<uint16_t>(mapped), "admin", "admin-pass");
    if (result != 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(result, 0);
  EXPECT_EQ(brixa_get_dev_channel_count(client, "KVR-CLI-1"), 2);
  EXPECT_EQ(brixa_get_TCP_port(client, "KVR-CLI-1"), 37777);
  EXPECT_EQ(brixa_get_HTTP_port(client, "KVR-CLI-1"), 80);
  EXPECT_EQ(brixa_get_HTTPS_port(client, "KVR-CLI-1"), 8443);
  EXPECT_EQ(brixa_get_output(client, "KVR-CLI-1", 1), 1);
  EXPECT_EQ(brixa_login(client, "KVR-CLI-1", static_cast<uint16_t>(mapped), "admin", "wrong"), 0);  // shared
  EXPECT_EQ(brixa_logout(client, "KVR-CLI-1"), 0);
  EXPECT_EQ(brixa_logout(client, "KVR-CLI-1"), 0);
  EXPECT_EQ(brixa_get_login_id(client, "KVR-CLI-1"), BRIXA_ERR_NO_SESSION);
  EXPECT_EQ(brixa_login(client, "KVR-CLI-1", static_cast<uint16_t>(mapped), "admin", "wrong"), 1);
  brixa_release(client);
  brixa_uninit();
}

}  // namespace
