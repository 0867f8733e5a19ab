# Tunnel connectors: tested against the tunnel service, a device agent and an echo "device" in
# the same process.
kavrel_test(brixa_tunnel_test tunnel/connectors_test.cpp LIBS brixa_static sim_tunnel_testing)
