#!/bin/bash
# Start-up and size figures of kel.exe under Wine; see startup.py.
exec /usr/bin/python3 "$(dirname "$0")/startup.py" "$@"
