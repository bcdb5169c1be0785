#!/usr/bin/env bash
# Installs what is missing, builds Magnova as a user runs it and starts it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh scripts/deps.txt
scripts/build-user.sh build/user
exec build/user/bin/magnova
