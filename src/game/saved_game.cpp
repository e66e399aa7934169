// stub, being written
