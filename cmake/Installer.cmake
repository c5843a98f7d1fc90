# The Windows installer and its test.
