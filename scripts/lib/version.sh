# project_version DIR: the project's one version, set in DIR/CMakeLists.txt's
# project(); empty when it cannot be read.
project_version() {
  sed -n 's/^project(TavrilenFocuser VERSION \([0-9][0-9.]*\) .*/\1/p' "$1/CMakeLists.txt"
}
