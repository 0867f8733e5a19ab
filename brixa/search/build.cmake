# The LAN device search.
target_sources(brixa_static PRIVATE
  search/device_search.cpp
  search/search_exports.cpp)

# Searches answered by simulated devices on an ephemeral discovery port of the loopback
# broadcast address, in process.
kavrel_test(brixa_search_test search/device_search_test.cpp LIBS brixa_static sim_device)
