# Device sessions: the device-information payload is JSON.
if(NOT TARGET PkgConfig::CJSON)
  pkg_check_modules(CJSON REQUIRED IMPORTED_TARGET GLOBAL libcjson)
endif()
target_link_libraries(brixa_static PUBLIC PkgConfig::CJSON)

# Device sessions through real tunnels (tunnel service, device agents) to the device simulator,
# all in process on loopback ports.
kavrel_test(brixa_session_test core/device_sessions_test.cpp LIBS brixa_static sim_device sim_tunnel)
