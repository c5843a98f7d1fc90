# In-process server: exports, class object, registration, and their tests.
