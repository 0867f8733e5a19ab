// The module of libbrixa.so: its exports come from brixa_static, linked in whole.
