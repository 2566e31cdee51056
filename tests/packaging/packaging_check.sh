#!/usr/bin/env bash
# What software centres and Debian see of Dorvane, checked by their own tools.
#   packaging_check.sh appstream SOURCE_DIR VERSION BUILD_DIR
#       the metainfo is valid, carries the application id of the code, names
#       the desktop file, has a release for VERSION, and shows screenshots
#       that are in the repository; the built one, with the translations
#       merged in, is valid too and has every language's summary
#   packaging_check.sh desktop SOURCE_DIR DORVANE
#       the desktop file is valid, named after the application id, and its
#       StartupWMClass is the class of DORVANE's window on X11; the built one
#       beside DORVANE, with the translations merged in, is valid too and
#       names and describes Dorvane in every language
#   packaging_check.sh lintian BUILD_DIR VERSION
#       the .deb that cpack builds holds the menu entry, metainfo and manual
#       page, its changelog is at VERSION, and lintian finds no error or warning
#       the package holds each language's catalog and manual page, and
#       depends on Qt's translations
# Exits 77 (skipped) when the tool it needs is not installed.
set -euo pipefail

what=$1
here=$(dirname "$(realpath "$0")")
fail() {
  echo "FAIL: $*"
  exit 1
}
need() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (run scripts/setup)"; exit 77; }
  done
}

work=$(mktemp -d "${TMPDIR:-/tmp}/dorvane-packaging.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# The languages of po/LINGUAS.
languages_of() {
  grep -v '^#' "$1/po/LINGUAS"
}

# The id the program gives itself (the Wayland app id), from its source.
app_id_of() {
  sed -n 's/^const char\* const AppId = "\(.*\)";$/\1/p' "$1/app/App_common.cpp"
}

case "$what" in
appstream)
  need appstreamcli
  source=$2 version=$3
  id=$(app_id_of "$source")
  [[ -n "$id" ]] || fail "no AppId in app/App_common.cpp"
  metainfo="$source/packaging/$id.metainfo.xml"
  [[ -f "$metainfo" ]] || fail "no $metainfo"
  appstreamcli validate --no-net --explain "$metainfo"
  grep -q "<id>$id</id>" "$metainfo" || fail "the metainfo's id is not $id"
  grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "the launchable is not $id.desktop"
  [[ -f "$source/packaging/$id.desktop" ]] || fail "the launchable $id.desktop is not in packaging/"
  grep -q "<release version=\"$version\"" "$metainfo" || fail "no release $version in the metainfo"
  # Screenshot addresses are the repository's paths under the homepage.
  homepage=$(sed -n 's|.*<url type="homepage">\(.*\)</url>.*|\1|p' "$metainfo")
  images=$(sed -n 's|.*<image>\(.*\)</image>.*|\1|p' "$metainfo")
  [[ -n "$images" ]] || fail "no screenshots"
  while read -r image; do
    [[ "$image" == "$homepage"* ]] || fail "$image is not under $homepage"
    [[ -f "$source/${image#"$homepage"}" ]] || fail "$image is not in the repository"
  done <<<"$images"
  built="$4/packaging/$id.metainfo.xml"
  appstreamcli validate --no-net --explain "$built"
  for language in $(languages_of "$source"); do
    grep -q "<summary xml:lang=\"$language\">" "$built" || fail "the metainfo has no summary in $language"
  done
  ;;

desktop)
  need desktop-file-validate Xvfb xdotool python3
  source=$2 exe=$(realpath "$3")
  id=$(app_id_of "$source")
  desktop="$source/packaging/$id.desktop"
  [[ -f "$desktop" ]] || fail "no $desktop"
  desktop-file-validate "$desktop"
  for key in GenericName Keywords StartupWMClass; do
    grep -q "^$key=." "$desktop" || fail "no $key"
  done
  class=$(sed -n 's/^StartupWMClass=//p' "$desktop")
  built="$(dirname "$exe")/packaging/$id.desktop"
  desktop-file-validate "$built"
  for language in $(languages_of "$source"); do
    for key in Name GenericName Comment Keywords; do
      grep -q "^$key\[$language\]=." "$built" || fail "the menu entry has no $key in $language"
    done
  done

  mkfifo "$work/displayfd"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/displayfd" 2>"$work/xvfb.log" &
  pids+=($!)
  read -r -t 30 display <"$work/displayfd" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  export DISPLAY=":$display" QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=1
  export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/runtime"
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$work/app" && chmod 700 "$XDG_RUNTIME_DIR"
  cp "$exe" "$work/app/dorvane"
  "$work/app/dorvane" >"$work/app.log" 2>&1 &
  app_pid=$!
  pids+=("$app_pid")
  window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Dorvane$' | head -n1) || fail "no window"
  wm_class=$(python3 "$here/../smoke/wm_class.py" "$window")
  [[ "$(sed -n 2p <<<"$wm_class")" == "$class" ]] || fail "the window's WM_CLASS is $(tr '\n' ' ' <<<"$wm_class")"
  python3 "$here/../smoke/wm_delete_window.py" "$window"
  timeout 20 tail --pid="$app_pid" -f /dev/null || fail "dorvane did not exit"
  ;;

lintian)
  need lintian dpkg-deb
  build=$2 version=$3
  cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || fail "cpack: $(cat "$work/cpack.log")"
  deb=$(ls "$work"/*.deb)
  contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
  for path in ./usr/bin/dorvane ./usr/share/applications/org.dorvane.Dorvane.desktop \
    ./usr/share/metainfo/org.dorvane.Dorvane.metainfo.xml ./usr/share/man/man1/dorvane.1.gz \
    ./usr/share/doc/dorvane/copyright ./usr/share/doc/dorvane/changelog.gz; do
    grep -qx "$path" <<<"$contents" || fail "the package lacks $path"
  done
  for language in $(languages_of "$here/../.."); do
    for path in "./usr/share/locale/$language/LC_MESSAGES/dorvane.mo" "./usr/share/man/$language/man1/dorvane.1.gz"; do
      grep -qx "$path" <<<"$contents" || fail "the package lacks $path"
    done
  done
  dpkg-deb -f "$deb" Depends | grep -qw qt6-translations-l10n || fail "Qt's translations are not a dependency"
  dpkg-deb -f "$deb" Recommends | grep -qw qt6-wayland || fail "qt6-wayland is not recommended"
  dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/dorvane/changelog.gz | gunzip |
    head -n1 | grep -q "^dorvane ($version)" || fail "the changelog's last entry is not $version"
  # Root is fine here: lintian only reads the package.
  lintian --fail-on error,warning --allow-root "$deb"
  ;;

*)
  fail "unknown check $what"
  ;;
esac
echo "PASS"
