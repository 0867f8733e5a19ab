# The cloud account client: mbed TLS for MD5, AES and big numbers, cJSON for the documents.
if(NOT TARGET PkgConfig::CJSON)
  pkg_check_modules(CJSON REQUIRED IMPORTED_TARGET GLOBAL libcjson)
endif()
find_library(MBEDCRYPTO_LIBRARY NAMES mbedcrypto REQUIRED)
find_path(MBEDTLS_INCLUDE_DIR NAMES mbedtls/bignum.h REQUIRED)
target_include_directories(brixa_static PUBLIC ${MBEDTLS_INCLUDE_DIR})
target_link_libraries(brixa_static PUBLIC PkgConfig::CJSON ${MBEDCRYPTO_LIBRARY} platform_net)

kavrel_test(brixa_cloud_test
  ${CMAKE_CURRENT_LIST_DIR}/service_url_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/crypto_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signed_request_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reply_reader_test.cpp
  LIBS brixa_static)

# End to end against the cloud account service simulator.
kavrel_test(brixa_cloud_api_test
  ${CMAKE_CURRENT_LIST_DIR}/tests/cloud_api_test.cpp
  LIBS brixa_static sim_cloud)

# A C client of the shared library; with kavrel-sim it checks the command-line simulator end
# to end.
add_executable(cloud_get_list ${CMAKE_CURRENT_LIST_DIR}/tests/cloud_get_list.c)
target_link_libraries(cloud_get_list PRIVATE brixa Threads::Threads)
target_include_directories(cloud_get_list PRIVATE ${PROJECT_SOURCE_DIR})
add_test(NAME brixa_cloud_cli_test
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/tests/cli_end_to_end.sh $<TARGET_FILE:kavrel-sim>
          $<TARGET_FILE:cloud_get_list> ${PROJECT_SOURCE_DIR}/sim/fixture/demo.json)
set_tests_properties(brixa_cloud_cli_test PROPERTIES TIMEOUT 60)

# Fuzz target (clang, KAVREL_FUZZ=ON): the HTTP reply reader and the numbers of the lists it
# passes on. Seeds in reply_fuzz_seeds; scripts/fuzz.sh runs it for a bounded time.
if(KAVREL_FUZZ)
  kavrel_fuzz(cloud_reply_fuzz ${CMAKE_CURRENT_LIST_DIR}/reply_fuzz.cpp ${CMAKE_CURRENT_LIST_DIR}/reply_reader.cpp)
  target_link_libraries(cloud_reply_fuzz PRIVATE kavrel_trace PkgConfig::CJSON)
endif()
