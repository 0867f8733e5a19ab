# Playback, backup and record queries.
target_sources(brixa_static PRIVATE
  record/date_time.cpp
  record/playback.cpp
  record/record_exports.cpp
  record/record_json.cpp
  record/record_queries.cpp
  record/record_sdk.cpp
)

# Date-times, answers, playback and queries against a scripted device, in process.
kavrel_test(brixa_record_test
  record/date_time_test.cpp
  record/record_json_test.cpp
  record/playback_test.cpp
  record/record_queries_test.cpp
  record/fake_record_sdk.cpp
  LIBS brixa_static PkgConfig::CJSON)

# Recordings against the device simulator through the tunnel service, in process.
kavrel_test(brixa_record_sim_test record/tests/recordings_sim_test.cpp
  LIBS brixa_static platform_gdi_testing sim_device sim_tunnel)
