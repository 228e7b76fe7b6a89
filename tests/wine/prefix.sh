#!/usr/bin/env bash
# The Wine prefix every other table of this build uses, made anew; Wine, making it, writes nothing in its home.
source "$(dirname "$0")/lib.sh"
make_prefix "$route" || set_up_failed "the prefix"
# The home own_run gave Wine is the table's own folder, where only the build's link and Wine's server belong.
written=$(find "$HOME" -mindepth 1 -maxdepth 1 ! -name build ! -name 'wine-*')
if [ -n "$written" ]; then
    echo "Wine wrote in its home: ${written//$'\n'/ }"
    exit 1
fi
