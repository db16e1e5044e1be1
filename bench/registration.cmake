# Self-registration and category enumeration.
tavocom_add_bench(registration registration_bench.cpp)
