#!/usr/bin/env bash
# The Wine prefix every other table of this build uses, made anew.
source "$(dirname "$0")/lib.sh"
make_prefix "$route" || set_up_failed "the prefix"
