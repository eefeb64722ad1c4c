# peer.pl - the machine benchmark's rows in Perl; prints "row seconds" lines.
use strict;
use warnings;
use Time::HiRes qw(time);
use POSIX ();

sub fib { my $n = shift; return $n < 2 ? $n : fib($n - 1) + fib($n - 2); }

sub row_fib { return fib(27); }

sub row_loop {
    my $s = 0;
    for my $i (1 .. 10000000) { $s = $s + $i; }
    return $s;
}

sub row_table {
    my @t;
    for my $i (0 .. 999999) { push @t, $i; }
    my $s = 0;
    for my $i (0 .. 999999) { $s = $s + $t[$i]; }
    return $s;
}

sub row_string {
    my (@stack, @lens);
    for my $i (1 .. 100000) {
        push @stack, "x";
        push @lens, 1;
        while (@stack > 1 && $lens[-2] <= $lens[-1]) {
            my $top = pop @stack;
            my $n = pop @lens;
            $stack[-1] = $stack[-1] . $top;
            $lens[-1] += $n;
        }
    }
    my $s = "";
    while (@stack) { $s = (pop @stack) . $s; }
    return length $s;
}

# Perl's abs is an operator, not a call: POSIX::fabs is a call into native code,
# as the other rows' abs is.
sub row_native {
    my $s = 0;
    for my $i (0 .. 999999) { $s = $s + POSIX::fabs($i); }
    return $s;
}

for my $row (["fib", \&row_fib], ["loop", \&row_loop], ["table", \&row_table],
             ["string", \&row_string], ["native", \&row_native]) {
    my $t0 = time();
    $row->[1]->();
    printf "%s %.6f\n", $row->[0], time() - $t0;
}
