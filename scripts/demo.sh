#!/bin/sh
echo "The demo (host, simulator and monitor on loopback) is not available yet." >&2
exit 1
