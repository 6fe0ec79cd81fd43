#!/usr/bin/env bash
# Makes a Wine prefix in which Quillory's Chinese texts show: the fonts the
# program and the system controls ask for are mapped onto the CJK fonts of
# fonts-wqy-zenhei and fonts-arphic-ukai.
#
#   tests/wine/setup-prefix.sh PREFIX
#
# Creates PREFIX when it is missing; running it again on a prefix only sets
# the fonts again. Set WINE to choose the loader (default: wine64 on PATH,
# else Debian's /usr/lib/wine/wine64).
set -euo pipefail

if [ $# -ne 1 ] || [ -z "$1" ]; then
    echo "usage: $0 PREFIX" >&2
    exit 2
fi
prefix=$(realpath -m "$1")

wine=${WINE:-$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)}
if [ ! -x "$wine" ]; then
    echo "$0: no Wine loader found (install wine64)" >&2
    exit 1
fi
wineserver=$(command -v wineserver || echo "$(dirname "$wine")/wineserver")

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko download prompts while the prefix is made.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$prefix"
    "$wine" wineboot --init >/dev/null 2>&1
    "$wineserver" -w
fi

# Wine's own fonts (fonts-wine): Marlett draws the title-bar buttons, Tahoma
# is the GUI font. Debian's Wine finds them only in the prefix's Fonts folder.
for file in marlett.ttf tahoma.ttf tahomabd.ttf; do
    if [ -f "/usr/share/wine/fonts/$file" ]; then
        ln -sf "/usr/share/wine/fonts/$file" "$prefix/drive_c/windows/Fonts/$file"
    fi
done

kai="AR PL UKai CN"
hei="WenQuanYi Zen Hei"
# The same outlines with drawn bitmaps for the small sizes: at the GUI fonts'
# 12 px the CJK font asks for no smoothing (its gasp table), and its plain
# outlines lose strokes there.
gui="WenQuanYi Zen Hei Sharp"
# The GUI font: Tahoma with the CJK font linked in for what it lacks, as on
# a Windows desktop; without Wine's Tahoma, the CJK font alone.
gui_latin=""
[ -f /usr/share/wine/fonts/tahoma.ttf ] && gui_latin=Tahoma
gui_face=${gui_latin:-$gui}

# Four bytes, little-endian, of a 32-bit value.
le32() {
    printf '%08x' $((($1 + 4294967296) % 4294967296)) | sed 's/\(..\)\(..\)\(..\)\(..\)/\4\3\2\1/'
}

# A LOGFONTW as the registry holds it, in hex: height, weight and face.
logfont() {
    local height=$1 weight=$2 face=$3 name
    name=$(printf '%s' "$face" | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 -v | tr -d ' \n')
    # width, escapement, orientation; then italic, underline, strike-out,
    # GB2312_CHARSET and four precision bytes; then the face in 32 UTF-16 units
    printf '%s%s%s%s%s%s' "$(le32 "$height")" 000000000000000000000000 "$(le32 "$weight")" \
        0000008600000000 "$name" "$(printf '%0*d' $((128 - ${#name})) 0)" | sed 's/../&,/g; s/,$//'
}

reg=$(mktemp --suffix=.reg)
trap 'rm -f "$reg"' EXIT

# Replacements: a face the program or the system asks for is drawn with a
# font that is there. SystemLink: faces that lack CJK glyphs (the GUI fonts)
# take them from the CJK font.
{
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
    for face in "楷体_GB2312" "楷体" "KaiTi" "KaiTi_GB2312"; do
        printf '"%s"="%s"\r\n' "$face" "$kai"
    done
    for face in "黑体" "SimHei"; do
        printf '"%s"="%s"\r\n' "$face" "$hei"
    done
    for face in "宋体" "SimSun" "新宋体" "NSimSun" "微软雅黑" "Microsoft YaHei" \
        "Microsoft YaHei UI"; do
        printf '"%s"="%s"\r\n' "$face" "$gui"
    done
    for face in "Segoe UI" "Microsoft Sans Serif" "MS Sans Serif" "Arial"; do
        printf '"%s"="%s"\r\n' "$face" "$gui_face"
    done
    if [ -z "$gui_latin" ]; then
        for face in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2"; do
            printf '"%s"="%s"\r\n' "$face" "$gui"
        done
    fi
    printf '\r\n'
    # Smoothed glyphs, as on a Windows desktop.
    printf '[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n'
    printf '"FontSmoothing"="2"\r\n'
    printf '"FontSmoothingType"=dword:00000001\r\n'
    printf '"FontSmoothingGamma"=dword:00000578\r\n'
    printf '"FontSmoothingOrientation"=dword:00000001\r\n'
    printf '\r\n'
    # The system fonts of a Chinese Windows 10 desktop, 9 pt at 96 DPI,
    # instead of Wine's 8 pt ones, for which the CJK font has no bitmaps.
    printf '[HKEY_CURRENT_USER\\Control Panel\\Desktop\\WindowMetrics]\r\n'
    for name in CaptionFont SmCaptionFont MenuFont StatusFont MessageFont IconFont; do
        printf '"%s"=hex:%s\r\n' "$name" "$(logfont -12 400 "$gui_face")"
    done
    printf '\r\n'
    # Wine draws the title bars itself and places the windows on its own: on
    # a bare X server (Xvfb) no window manager would draw them, and Wine
    # would wait for one at each window that goes.
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n'
    printf '"Decorated"="N"\r\n'
    printf '"Managed"="N"\r\n'
    printf '\r\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n'
    for face in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Segoe UI" "Microsoft Sans Serif" \
        "MS Sans Serif" "Arial"; do
        printf '"%s"=hex(7):%s\r\n' "$face" \
            "$(printf 'wqy-zenhei.ttc,%s\0\0' "$gui" | iconv -f UTF-8 -t UTF-16LE |
                od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//; s/,$//')"
    done
    printf '\r\n'
} | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$reg"

# Wine sees the host's root as drive Z:.
"$wine" regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1
"$wineserver" -w

grep -q "UKai" "$prefix/user.reg" || {
    echo "$0: the font settings did not reach $prefix" >&2
    exit 1
}
