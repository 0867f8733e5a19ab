#include "brixa/cloud/service_url.h"

#include <gtest/gtest.h>

#include <string>

namespace brixa::cloud {
namespace {

TEST(ServiceUrl, ReadsHostPortAndPath) {
  struct Case {
    const char* url;
    const char* host;
    uint16_t port;
    const char* path;
  } cases[] = {
      {"http://cloud.example/api/v1", "cloud.example", 80, "/api/v1"},
      {"http://127.0.0.1:8080", "127.0.0.1", 8080, "/"},
      {"http://127.0.0.1:8080/rpc", "127.0.0.1", 8080, "/rpc"},
      {"http://host:0/x", "host", 80, "/x"},
      {"http://host:abc/x", "host", 80, "/x"},
      {"http://host:70000/x", "host", 80, "/x"},
      {"http://host", "host", 80, "/"},
      {"http://host/", "host", 80, "/"},
      // A colon in the path is not a port separator.
      {"http://host/a:b", "host", 80, "/a:b"},
      // Text before the scheme is skipped.
      {"  http://host:81/p", "host", 81, "/p"},
  };
  for (const Case& c : cases) {
    ServiceUrl url;
    ASSERT_TRUE(parse_service_url(c.url, url)) << c.url;
    EXPECT_EQ(url.host, c.host) << c.url;
    EXPECT_EQ(url.port, c.port) << c.url;
    EXPECT_EQ(url.path, c.path) << c.url;
  }
}

TEST(ServiceUrl, RefusesTextWithoutScheme) {
  for (const char* url : {"", "https://host/x", "host:80/x", "ftp://host"}) {
    ServiceUrl parsed;
    EXPECT_FALSE(parse_service_url(url, parsed)) << url;
  }
  ServiceUrl parsed;
  EXPECT_FALSE(parse_service_url(nullptr, parsed));
}

TEST(ServiceUrl, CutsLongHostAndPath) {
  std::string host(100, 'h');
  std::string path = "/" + std::string(400, 'p');
  ServiceUrl url;
  ASSERT_TRUE(parse_service_url(("http://" + host + ":81" + path).c_str(), url));
  EXPECT_EQ(url.host, std::string(63, 'h'));
  EXPECT_EQ(url.port, 81);
  EXPECT_EQ(url.path.size(), 255u);
  EXPECT_EQ(url.path[0], '/');
}

}  // namespace
}  // namespace brixa::cloud
