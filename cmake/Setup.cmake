# Setup dialog: its sources and tests.
