#!/usr/bin/env bash
# `kavrel-sim cloud --fixture <file>` serves an account that a libbrixa.so client reads with
# biz_get_list: serials, device list and camera list, secrets decrypted.
#   cli_end_to_end.sh <kavrel-sim> <cloud_get_list> <fixture>
set -euo pipefail
sim=$1 client=$2 fixture=$3
out=$(mktemp -d)
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; rm -rf "$out"' EXIT

"$sim" cloud --fixture "$fixture" >"$out/sim.log" 2>&1 &
sim_pid=$!
url=
for _ in $(seq 100); do
  url=$(sed -n 's/^cloud account service listening on //p' "$out/sim.log")
  [ -n "$url" ] && break
  sleep 0.1
done
[ -n "$url" ] || { echo "the simulator did not start"; cat "$out/sim.log"; exit 1; }

"$client" "$url" kavrel-demo-key kavrel-demo-pass demo demo-password >"$out/client.log"
cat "$out/client.log"
grep -q '^513 0 ' "$out/client.log"
grep -q '^514 0 ' "$out/client.log"
grep -q '^515 0 ' "$out/client.log"
grep -q '"dev_pass":	"admin-pass-1"' "$out/client.log"
grep -q '"devid":	"KVR-000002"' "$out/client.log"
grep -q '^result 200$' "$out/client.log"

# A wrong password is refused by the service.
if "$client" "$url" kavrel-demo-key kavrel-demo-pass demo wrong >"$out/refused.log"; then
  echo "a wrong password was accepted"; exit 1
fi
grep -q '^result 401$' "$out/refused.log"

kill -INT "$sim_pid"
wait "$sim_pid"
