#!/bin/sh
# The screenshot folder of the dialog tests, for their CTest fixture:
#   dialog_screenshots.sh clear <folder>   before the tests: an empty folder
#   dialog_screenshots.sh png <folder>     after them: every .bmp the tests left there becomes a
#                                          .png (ImageMagick's convert), the .bmp is removed
# Without convert the pictures stay .bmp and the step reports itself skipped (77).
set -u

if [ $# -ne 2 ]; then
    echo "usage: dialog_screenshots.sh clear|png <folder>" >&2
    exit 2
fi
folder=$2
case $folder in
*/screenshots) ;;
*)
    echo "dialog_screenshots: $folder is not a screenshots folder" >&2
    exit 2
    ;;
esac

case $1 in
clear)
    rm -rf -- "$folder"
    mkdir -p -- "$folder"
    ;;
png)
    [ -d "$folder" ] || exit 0
    if ! command -v convert >/dev/null 2>&1; then
        echo "dialog_screenshots: no ImageMagick convert; the screenshots stay .bmp in $folder"
        exit 77
    fi
    status=0
    for bmp in "$folder"/*.bmp; do
        [ -f "$bmp" ] || continue
        png=${bmp%.bmp}.png
        if convert "$bmp" "$png" </dev/null; then
            rm -f -- "$bmp"
            echo "$png"
        else
            echo "dialog_screenshots: can't convert $bmp" >&2
            status=1
        fi
    done
    exit $status
    ;;
*)
    echo "dialog_screenshots: unknown action $1" >&2
    exit 2
    ;;
esac
