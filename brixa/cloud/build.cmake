# The cloud account client: mbed TLS for MD5, AES and big numbers, cJSON for the documents.
if(NOT TARGET PkgConfig::CJSON)
  pkg_check_modules(CJSON REQUIRED IMPORTED_TARGET GLOBAL libcjson)
endif()
find_library(MBEDCRYPTO_LIBRARY NAMES mbedcrypto REQUIRED)
find_path(MBEDTLS_INCLUDE_DIR NAMES mbedtls/bignum.h REQUIRED)
target_include_directories(brixa_static PUBLIC ${MBEDTLS_INCLUDE_DIR})
target_link_libraries(brixa_static PUBLIC PkgConfig::CJSON ${MBEDCRYPTO_LIBRARY})

kavrel_test(brixa_cloud_test
  ${CMAKE_CURRENT_LIST_DIR}/service_url_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/crypto_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signed_request_test.cpp
  LIBS brixa_static)

# End to end against the cloud account service simulator.
kavrel_test(brixa_cloud_api_test
  ${CMAKE_CURRENT_LIST_DIR}/tests/cloud_api_test.cpp
  LIBS brixa_static sim_cloud)
