# Sourced by the smoke tests.

# Polls a command until it succeeds or the seconds run out.
wait_for() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}

# Exits 77, which CTest counts as skipped, saying why.
skip() {
  echo "SKIP: $* (run scripts/setup)"
  exit 77
}

# Skips unless every tool is installed.
need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
  done
}

# Settings.ini's sections for one program entry, the selected one, which opens
# each document with FILE, the document after DOCUMENT_PREFIX.
#   program_entry_settings DISPLAY_NAME FILE [DOCUMENT_PREFIX]
program_entry_settings() {
  cat <<INI
[ProgramEntries]
Count=1

[ProgramEntries.Items[0]]
DisplayName="$1"
File="$2"
DocumentPrefix="${3:-}"
DocumentSuffix=""
WorkingDirectory=""
ShowCommand=1
OpenInterval=0
AutoPause=0

[ProgramEntriesSelection]
SelectionIndex=0
INI
}
