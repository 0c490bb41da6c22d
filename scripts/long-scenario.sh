#!/usr/bin/env bash
# Writes a long scenario to standard output, for measuring what sapp-host
# needs to play one (docs/robustness.md):
#
#   scripts/long-scenario.sh [PACKETS [IDS]]
#
# One session opens, then PACKETS app-list notices (PAddAppReq, default 50)
# each list IDS app ids (default 100000, all 7: the module claims the app
# and logs a line for every id listed, and the notice's event lists them
# all), each step checked; then the session leaves and is released. At
# 2 bytes per listed id the defaults make a 10 MB scenario listing 5 M ids.
set -euo pipefail
packets="${1:-50}"
ids="${2:-100000}"
awk -v packets="$packets" -v ids="$ids" 'BEGIN {
    count = ids
    # ids copies of 7: a block that doubles, taken where ids has a bit set.
    list = ""
    for (block = "7"; ids > 0; ids = int(ids / 2)) {
        if (ids % 2) list = list (list == "" ? "" : ",") block
        block = block "," block
    }
    print "{\"name\": \"" packets " notices of " count " app ids\","
    print " \"host\": {\"databases\": {\"1234\": {\"dwSGroupId\": 1}}},"
    print " \"steps\": ["
    print "  {\"open\": {\"session\": \"a\", \"sid\": 1234}},"
    for (p = 0; p < packets; ++p) {
        print "  {\"packet\": {\"sid\": 1234, \"uri\": 256978, \"record\": {\"sid\": 1234, \"appIds\": [" list "]}},"
        print "   \"expect\": [{\"event\": {\"type\": 1032}}], \"absent\": [{\"error\": {}}]},"
    }
    print "  {\"leave\": 1234},"
    print "  {\"release\": 1234}]}"
}'
