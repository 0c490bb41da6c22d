#!/usr/bin/env bash
# Writes a scenario for measuring the module's cost per app-platform message:
# one session with an SDK V2 app (5, proxy 50) and an SDK V3 app (6, proxy
# 60), then ROUNDS rounds of the message kinds asked for, by default all four:
#   v3down  a V3 data message from proxy 60 (PAppMsgToClient, type 3)
#   v2down  a V2 data message from proxy 50 (PUserMsg3, type 3)
#   v2up    a client message for app 5 (REQ_APP_DATA, sent as PUserMsg3)
#   v3up    a client message for app 6 (REQ_APP_DATA, sent as PAppMsgToSDK)
#
#   perf/data-messages.sh ROUNDS [KIND...] > FILE
set -euo pipefail

rounds="${1:?usage: perf/data-messages.sh ROUNDS [v3down|v2down|v2up|v3up]...}"
shift
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(v3down v2down v2up v3up)
data=48656c6c6f2c20617070  # "Hello, app"

cat <<HEAD
{
  "name": "data messages: $rounds rounds of ${kinds[*]}",
  "host": {"databases": {"1": {"dwSGroupId": 1}}},
  "steps": [
    {"open": {"session": "a", "sid": 1}},
    {"event": {"session": "a", "type": 8002, "sid": 1, "uid": 11}},
    {"packet": {"sid": 1, "uri": 256978, "record": {"sid": 1, "appIds": [5, 6], "appPacks": {"apps": {
      "5": {"appId": 5, "proxyIds": [50], "sdkVersion": 2},
      "6": {"appId": 6, "proxyIds": [60], "sdkVersion": 3}}}}}},
HEAD
for ((seq = 1; seq <= rounds; ++seq)); do
    for kind in "${kinds[@]}"; do
        case "$kind" in
        v3down) echo "    {\"packet\": {\"sid\": 1, \"uri\": 2611202, \"record\": {\"appId\": 6, \"srcId\": 60, \"seqNum\": $seq, \"appMsgType\": 3, \"data\": \"$data\"}}}," ;;
        v2down) echo "    {\"packet\": {\"sid\": 1, \"uri\": 2585602, \"record\": {\"proxyId\": 50, \"msgType\": 1, \"data\": {\"seqNum\": $seq, \"appMsgType\": 3, \"appId\": 5, \"appData\": \"$data\"}}}}," ;;
        v2up) echo "    {\"request\": {\"sid\": 1, \"appId\": 5, \"data\": \"$data\"}}," ;;
        v3up) echo "    {\"request\": {\"sid\": 1, \"appId\": 6, \"data\": \"$data\"}}," ;;
        *) echo "perf/data-messages.sh: unknown kind $kind" >&2; exit 2 ;;
        esac
    done
done
cat <<TAIL
    {"leave": 1},
    {"release": 1}
  ]
}
TAIL
