# Alert listening: per-channel flags, the Device SDK's listening per device, alarm callbacks and
# the live overlay's alarm indicators.
target_sources(brixa_static PRIVATE
  alerts/alerts.cpp
  alerts/alert_exports.cpp)

# Alerts from the device simulator through the tunnel service, in process on loopback ports.
kavrel_test(brixa_alerts_test alerts/alerts_test.cpp LIBS brixa_static sim_device sim_tunnel)
