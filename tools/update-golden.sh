#!/usr/bin/env bash
# Rewrites the pinned results in tests/golden/ from what the release build makes now. Run it only
# when maps are meant to change: that is a breaking change and gets a new major version. Review
# the difference (git diff tests/golden) before committing it.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build --preset release --target orvandel-tests orvandel-batch
ORVANDEL_UPDATE_GOLDEN=1 build/release/tests/orvandel-tests --gtest_filter='Golden.*'
git status --short tests/golden
