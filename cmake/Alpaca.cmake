# The Alpaca device server (focuser-alpaca) and its tests.
