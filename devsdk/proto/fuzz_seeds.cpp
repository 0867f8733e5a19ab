// Writes a starting corpus for a fuzz target: well-formed message streams of the kind the
// target reads.
//   usage: proto_fuzz_seeds <netsdk_reply_fuzz|sim_device_request_fuzz|configsdk_parse_fuzz> <folder>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "devsdk/proto/media_block.h"
#include "devsdk/proto/messages.h"

namespace {

using Bytes = std::vector<uint8_t>;

void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

bool write(const std::string& folder, const std::string& name, const Bytes& bytes) {
  std::string path = folder + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

Bytes login_request() {
  proto::LoginRequest r;
  r.login_mode = 19;
  r.user = "admin";
  r.password = "admin";
  r.client_name = "seed";
  return proto::request_bytes(proto::Type::login, 1, proto::encode(r));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: proto_fuzz_seeds <target> <folder>\n");
    return 2;
  }
  std::string target = argv[1];
  std::string folder = argv[2];
  bool ok = true;
  if (target == "sim_device_request_fuzz") {
    proto::ConfigRequest device_cfg{proto::kConfigDevice, -1};
    proto::ConfigRequest network_cfg{proto::kConfigNetwork, -1};
    proto::IoRequest outputs{proto::kIoAlarmOutput};
    proto::IoControl set;
    set.io_type = proto::kIoAlarmOutput;
    set.entries = {{0, 1}, {1, 0}, {2, 1}};
    Bytes session = login_request();
    append(session, proto::request_bytes(proto::Type::get_config, 2, proto::encode(device_cfg)));
    append(session, proto::request_bytes(proto::Type::get_config, 3, proto::encode(network_cfg)));
    append(session, proto::request_bytes(proto::Type::io_state, 4, proto::encode(outputs)));
    append(session, proto::request_bytes(proto::Type::io_control, 5, proto::encode(set)));
    append(session, proto::request_bytes(proto::Type::keepalive, 6, {}));
    append(session, proto::request_bytes(proto::Type::logout, 7, {}));
    ok = write(folder, "session", session) && write(folder, "login", login_request());
  } else if (target == "netsdk_reply_fuzz") {
    proto::LoginReply login;
    login.session_token = 7;
    login.serial = "SN";
    login.channels = 4;
    login.alarm_outputs = 2;
    proto::DeviceConfig device;
    device.name = "Loja";
    proto::NetworkConfig network;
    network.tcp_port = 37777;
    proto::IoStates states;
    states.entries = {{0, 1}, {1, 0}};
    proto::MediaFrame frame;
    frame.kind = proto::kFrameVideoKey;
    frame.codec = proto::kCodecH264;
    frame.data = {0, 0, 0, 1, 0x67, 0x42};
    Bytes replies{63};  // pieces of 64 bytes
    append(replies, proto::reply_bytes(proto::Type::login, 1, 0, proto::encode(login)));
    append(replies, proto::reply_bytes(proto::Type::get_config, 2, 0, proto::encode(device)));
    append(replies, proto::reply_bytes(proto::Type::get_config, 3, 0, proto::encode(network)));
    append(replies, proto::reply_bytes(proto::Type::io_state, 4, 0, proto::encode(states)));
    append(replies, proto::push_bytes(proto::Type::media_frame, proto::encode(frame)));
    append(replies, proto::push_bytes(proto::Type::alarm_event, proto::encode(proto::AlarmEvent{})));
    proto::ChannelConfig channel;
    channel.name = "Entrada";
    channel.main = {17, 25, 2048, 25, 1, 1};
    append(replies, proto::reply_bytes(proto::Type::get_config, 5, 0, proto::encode(channel)));
    append(replies, proto::reply_bytes(proto::Type::get_named_config, 6, 0,
                                       proto::encode(proto::NamedConfigReply{R"({"name":"Encode"})"})));
    proto::LensInfo lens;
    lens.radius = 2304;
    lens.center_x = 4096;
    lens.center_y = 3900;
    proto::MediaFrame lens_frame;
    lens_frame.kind = proto::kFrameLens;
    lens_frame.data = proto::encode(lens);
    append(replies, proto::push_bytes(proto::Type::media_frame, proto::encode(lens_frame)));
    ok = write(folder, "replies", replies);
  } else if (target == "configsdk_parse_fuzz") {
    const char* encode =
        R"({"name":"Encode","channel":0,"title":"Entrada","main":{"video_enable":true,"video":{"codec":"H.264",)"
        R"("width":1280,"height":720,"fps":25,"bit_rate_kbps":2048,"gop":25}},"extra":[{"video":{"width":704,)"
        R"("height":576}},{"video_enable":false}]})";
    const char* caps = R"({"name":"devVideoInput.getCaps","channel":0,"caps":{"sensors":1,"fisheye":true}})";
    Bytes blocks;
    const uint8_t picture[] = {0, 0, 0, 1, 0x65, 0x88};
    proto::append_media_block(blocks, proto::kFrameVideoKey, proto::kCodecH264, 1765000000000ull, 704, 576, picture,
                              sizeof picture);
    ok = write(folder, "encode", Bytes(encode, encode + std::strlen(encode))) &&
         write(folder, "caps", Bytes(caps, caps + std::strlen(caps))) && write(folder, "blocks", blocks);
  } else {
    std::fprintf(stderr, "proto_fuzz_seeds: unknown target %s\n", target.c_str());
    return 2;
  }
  return ok ? 0 : 1;
}
