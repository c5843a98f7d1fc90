# The native controller simulator on a pseudo-terminal (focuser-sim) and the
# POSIX serial line.
