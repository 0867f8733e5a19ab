// Fuzz target: the NetSDK's side of the wire. Arbitrary bytes from a device go through the
// framing and every reply and push decoder the client runs, and into the blocks it fills.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "devsdk/netsdk/replies.h"
#include "devsdk/proto/messages.h"
#include "devsdk/proto/wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks how the stream arrives: in pieces of 1 to 256 bytes.
  size_t piece = static_cast<size_t>(data[0]) + 1;
  ++data;
  --size;
  proto::FrameReader frames(proto::kMaxControlPayload);
  proto::Message m;
  for (size_t at = 0; at < size; at += piece) {
    size_t n = size - at < piece ? size - at : piece;
    frames.feed(data + at, n);
    for (;;) {
      auto r = frames.next(m);
      if (r != proto::FrameReader::Result::message) {
        if (r != proto::FrameReader::Result::need_more) return 0;  // the client closes here
        break;
      }
      switch (static_cast<proto::Type>(m.header.type)) {
        case proto::Type::login: {
          proto::LoginReply reply;
          NET_DEVICEINFO info;
          if (proto::decode(m.payload, reply)) netsdk::fill_device_info(reply, &info);
          netsdk::login_error_from_status(m.header.status);
          break;
        }
        case proto::Type::get_config: {
          std::vector<uint8_t> block(sizeof(NET_NETWORK_CONFIG));
          netsdk::fill_config_block(NET_DEV_DEVICECFG, m.payload, block.data(), static_cast<uint32_t>(block.size()));
          netsdk::fill_config_block(NET_DEV_NETCFG, m.payload, block.data(), static_cast<uint32_t>(block.size()));
          netsdk::fill_config_block(NET_DEV_CHANNELCFG, m.payload, block.data(), static_cast<uint32_t>(block.size()));
          netsdk::last_error_from_status(m.header.status);
          break;
        }
        case proto::Type::get_named_config: {
          proto::NamedConfigReply reply;
          proto::decode(m.payload, reply);
          break;
        }
        case proto::Type::io_state: {
          NET_IO_STATE states[16];
          netsdk::fill_io_states(m.payload, states, sizeof states);
          netsdk::fill_io_states(m.payload, states, 5);  // room for one entry and a bit
          break;
        }
        case proto::Type::media_frame: {
          proto::MediaFrame frame;
          proto::decode(m.payload, frame);
          proto::MediaFrameView view;
          if (proto::decode(m.payload, view) && view.kind == proto::kFrameLens) {
            proto::LensInfo lens;
            proto::decode(std::vector<uint8_t>(view.data, view.data + view.size), lens);
          }
          break;
        }
        case proto::Type::record_query: {
          NET_RECORDFILE_INFO files[4];
          netsdk::fill_record_files(m.payload, 0, files, 4);
          break;
        }
        case proto::Type::record_month: {
          NET_RECORD_STATUS status;
          netsdk::fill_record_status(m.payload, &status);
          break;
        }
        case proto::Type::bind: {
          proto::RecordStreamInfo info;
          proto::decode(m.payload, info);
          break;
        }
        case proto::Type::stream_end: {
          proto::StreamEnd end;
          proto::decode(m.payload, end);
          break;
        }
        case proto::Type::alarm_event: {
          proto::AlarmEvent event;
          proto::decode(m.payload, event);
          break;
        }
        default:
          break;
      }
    }
  }
  return 0;
}
