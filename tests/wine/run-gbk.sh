#!/bin/sh
# Runs a Windows program under Wine with the ANSI code page 936 (GBK), in the
# build's own prefix. Wine takes its code page from the Unix locale, so the
# GBK locale is made once, in the build folder (localedef, from Debian's
# locales package).
#
#   tests/wine/run-gbk.sh BUILD_DIR WINE PROGRAM [ARGS...]
set -eu

if [ $# -lt 3 ]; then
    echo "usage: $0 BUILD_DIR WINE PROGRAM [ARGS...]" >&2
    exit 2
fi
build=$1
wine=$2
shift 2

locales=$build/locale
if [ ! -d "$locales/zh_CN.GBK" ]; then
    if ! command -v localedef >/dev/null 2>&1; then
        echo "$0: localedef is missing: install Debian's locales package" >&2
        exit 1
    fi
    # Made aside and moved in whole, so that a run beside this one never
    # sees half a locale.
    mkdir -p "$locales"
    aside=$(mktemp -d "$locales/.making.XXXXXX")
    localedef -i zh_CN -f GBK "$aside/zh_CN.GBK"
    mv -T "$aside/zh_CN.GBK" "$locales/zh_CN.GBK" 2>/dev/null || true
    rm -rf "$aside"
fi

exec env LOCPATH="$locales" LC_ALL=zh_CN.GBK WINEPREFIX="$build/wineprefix" WINEDEBUG=-all \
    "$wine" "$@"
