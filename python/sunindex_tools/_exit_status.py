"""The exit statuses of the `sunindex` command, by what they mean."""

#: Everything asked for was done.
OK = 0
#: Something failed at run time: a file that could not be had or read, a bad file, an
#: epoch outside the files, output that could not be written.
FAILURE = 1
#: A bad command line, as argparse uses it.
USAGE = 2
