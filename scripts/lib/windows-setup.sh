# The Windows setup, made with NSIS from src/app/kestrove-setup.nsi: shared by
# scripts/package-windows and scripts/lib/windows-setup-check. Needs WINDOWS_PACKAGES.
# shellcheck shell=bash

# project_field NAME: VERSION or DESCRIPTION of project() in CMakeLists.txt, the one place that
# defines them.
project_field() {
    local value
    case $1 in
        VERSION) value=$(sed -n 's/^ *VERSION \([0-9.]*\)$/\1/p' "$KESTROVE_ROOT/CMakeLists.txt") ;;
        DESCRIPTION) value=$(sed -n 's/^ *DESCRIPTION "\(.*\)"$/\1/p' "$KESTROVE_ROOT/CMakeLists.txt") ;;
        *) die "project_field: no field $1" ;;
    esac
    value=$(head -n 1 <<<"$value")
    [ -n "$value" ] || die "no project $1 found in CMakeLists.txt"
    echo "$value"
}

# make_windows_setup OUTPUT VERSION PAYLOAD_FOLDER: writes the setup OUTPUT that installs the
# files of PAYLOAD_FOLDER (kestrove.exe among them; no subfolders) as version VERSION. The
# uninstaller removes exactly those files, so the list is generated here from the folder.
make_windows_setup() {
    local output=$1 version=$2 payload=$3 description work file name
    description=$(project_field DESCRIPTION)
    [ -f "$payload/kestrove.exe" ] || die "no kestrove.exe in $payload"
    work=$(realpath -m "$output.work")
    rm -rf "$work"
    mkdir -p "$work"

    {
        echo '!macro InstallPayload'
        for file in "$payload"/*; do
            name=${file##*/}
            if [ ! -f "$file" ] || [[ ! "$name" =~ ^[A-Za-z0-9._-]+$ ]]; then
                die "$file: the setup takes plain files with plain names only"
            fi
            printf '    File "%s"\n' "$(realpath "$file")"
        done
        echo '!macroend'
        echo '!macro RemovePayload'
        for file in "$payload"/*; do
            # shellcheck disable=SC2016 # $INSTDIR is NSIS's
            printf '    Delete "$INSTDIR\\%s"\n' "${file##*/}"
        done
        echo '!macroend'
    } >"$work/payload.nsh"

    # The picture beside the first and last pages: the program's icon on the blue of its window.
    convert -size 164x314 gradient:'#2f4fe0-#0a1a9a' \
        "$KESTROVE_ROOT/src/ui/images/icon-128.png" -gravity north -geometry +0+48 -composite \
        -alpha off -type TrueColor "BMP3:$work/wizard.bmp"

    # makensis reads its command line in the locale's encoding; the description is Chinese.
    LC_ALL=C.UTF-8 makensis -V2 -WX -INPUTCHARSET UTF8 \
        "-DVERSION=$version" "-DDESCRIPTION=$description" \
        "-DPAYLOAD=$work/payload.nsh" "-DICON=$KESTROVE_ROOT/src/ui/images/kestrove.ico" \
        "-DWIZARD_IMAGE=$work/wizard.bmp" "-DOUTFILE=$(realpath -m "$output")" \
        "$KESTROVE_ROOT/src/app/kestrove-setup.nsi" >"$work/makensis.log" 2>&1 || {
        cat "$work/makensis.log" >&2
        die "makensis failed for $output"
    }
    rm -rf "$work"
}
