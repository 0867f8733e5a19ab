// How the NetSDK turns the device's replies into what its callers receive: the login's device
// information, the configuration blocks, the I/O state buffer, and error numbers. Pure
// functions of their inputs, shared by the operations and the reply fuzz target.
#pragma once

#include <cstdint>
#include <vector>

#include "devsdk/netsdk/netsdk.h"
#include "devsdk/proto/messages.h"

namespace netsdk {

// Fills the device information block of a successful login.
void fill_device_info(const proto::LoginReply& reply, NET_DEVICEINFO* info);

// The size of the block of a configuration command; 0 for a command without a block.
uint32_t config_block_size(uint32_t command);
// Decodes a configuration reply and lays it into its block (`size` at least the block's size).
// False when the payload does not decode.
bool fill_config_block(uint32_t command, const std::vector<uint8_t>& payload, void* buffer, uint32_t size);

// Decodes an I/O state reply into 4-byte entries, as many as fit in `size`. The number of
// entries filled, or -1 when the payload does not decode.
int fill_io_states(const std::vector<uint8_t>& payload, void* buffer, uint32_t size);

// Lays a record query reply into descriptions of `channel`'s files, at most `capacity`. The
// number filled, or -1 when the payload does not decode or holds more files than were asked for.
int fill_record_files(const std::vector<uint8_t>& payload, int32_t channel, NET_RECORDFILE_INFO* buffer,
                      size_t capacity);
// Lays a month reply into the day flags.
bool fill_record_status(const std::vector<uint8_t>& payload, NET_RECORD_STATUS* status);

// The login error code (1-10) of a login reply's status.
int32_t login_error_from_status(int32_t status);
// The error number of the last error for a login error code.
uint32_t last_error_from_login_error(int32_t login_error);
// The error number of the last error for a non-login reply's status.
uint32_t last_error_from_status(int32_t status);

}  // namespace netsdk
