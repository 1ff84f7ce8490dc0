// Round trip tests of the writer.
