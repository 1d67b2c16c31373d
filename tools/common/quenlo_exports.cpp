#include "tools/common/quenlo_exports.h"

namespace quenlo_tools {

QuenloExports BindQuenloExports(HMODULE module) {
  QuenloExports e;
  if (module == nullptr) return e;
  e.create_client = BindOrdinal<PFN_CreatePipeClient>(module, QUENLO_ORDINAL_CreatePipeClient);
  e.create_server = BindOrdinal<PFN_CreatePipeServer>(module, QUENLO_ORDINAL_CreatePipeServer);
  e.channel_layout_to_channels =
      BindOrdinal<PFN_ChannelLayoutToChannels>(module, QUENLO_ORDINAL_ChannelLayoutToChannels);
  e.audio_format_to_bits =
      BindOrdinal<PFN_AudioFormatToBits>(module, QUENLO_ORDINAL_AudioFormatToBits);
  e.get_time_ns = BindOrdinal<PFN_GetTimeNS>(module, QUENLO_ORDINAL_GetTimeNS);
  e.query_version = BindOrdinal<PFN_QueryVersion>(module, QUENLO_ORDINAL_QueryVersion);
  e.set_log_callback =
      BindOrdinal<PFN_SetLogMessageCallback>(module, QUENLO_ORDINAL_SetLogMessageCallback);
  return e;
}

}  // namespace quenlo_tools
