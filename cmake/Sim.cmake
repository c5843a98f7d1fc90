# The controller simulator (FocuserSim.exe) and its tests.
