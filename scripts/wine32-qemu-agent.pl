#!/usr/bin/perl
# Both ends of a Wine call into the emulated guest that scripts/wine32-qemu boots:
#   serve PORT DISPLAY  in the guest: runs each connection's command, several at once
#   call PORT PROGRAM ARGS...
#                       on the host: sends the command with the caller's environment and
#                       folder, relays its stdout and stderr, exits with its status
# A request is a count and length-prefixed strings (folder, variables, "", program, args);
# the replies are frames of channel (1 stdout, 2 stderr, 0 exit status) and data.
# Perl because the guest's root has it (perl-base) and no other scripting language.
use strict;
use warnings;
use IO::Socket::INET;
use IO::Select;
use POSIX ();
use Cwd ();

sub put { my ($fh, $data) = @_; while (length $data) { my $n = syswrite($fh, $data) // return 0; substr($data, 0, $n) = '' } 1 }
sub take {
  my ($fh, $size) = @_;
  my $data = '';
  while (length $data < $size) { sysread($fh, $data, $size - length $data, length $data) or return undef }
  $data;
}
sub frame { my ($fh, $channel, $data) = @_; put($fh, pack('CN/a*', $channel, $data)) }

my $mode = shift // '';
if ($mode eq 'call') {
  my $port = shift;
  my $guest = IO::Socket::INET->new(PeerAddr => '127.0.0.1', PeerPort => $port)
    or die "wine32-qemu: no guest answers on port $port: $!\n";
  # Variables that describe the calling shell rather than the run stay behind.
  my @env = map { "$_=$ENV{$_}" } grep { !/^(PWD|OLDPWD|SHLVL|_)$/ } sort keys %ENV;
  my @items = (Cwd::getcwd() // '/', @env, '', @ARGV);
  put($guest, pack('N', scalar @items) . pack('(N/a*)*', @items));
  while (defined(my $head = take($guest, 5))) {
    my ($channel, $size) = unpack('CN', $head);
    my $data = take($guest, $size) // last;
    exit unpack('N', $data) if $channel == 0;
    put($channel == 1 ? \*STDOUT : \*STDERR, $data);
  }
  die "wine32-qemu: the guest ended the run without its status\n";
}
die "usage: $0 serve PORT DISPLAY | call PORT PROGRAM ARGS...\n" unless $mode eq 'serve';

my ($port, $display) = @ARGV;
my $server = IO::Socket::INET->new(LocalPort => $port, Listen => 64, ReuseAddr => 1)
  or die "wine32-qemu agent: cannot listen on $port: $!\n";
# The agent is the guest's first process: orphans (daemonised wineservers) come to it.
$SIG{CHLD} = 'IGNORE';
while (1) {
  my $caller = $server->accept or next;
  my $pid = fork;
  if (defined $pid && $pid == 0) {
    $SIG{CHLD} = 'DEFAULT';
    close $server;
    run($caller);
    POSIX::_exit(0);
  }
  close $caller;
}

sub run {
  my ($caller) = @_;
  my $count = unpack('N', take($caller, 4) // return);
  my @items = map { my $size = unpack('N', take($caller, 4) // return); take($caller, $size) // return } 1 .. $count;
  my $folder = shift @items;
  %ENV = ();
  while (defined(my $kv = shift @items)) { last if $kv eq ''; my ($k, $v) = split /=/, $kv, 2; $ENV{$k} = $v }
  # Wine draws on the caller's display through the forwarded X connection.
  $ENV{DISPLAY} = $display if exists $ENV{DISPLAY};
  pipe(my $out_r, my $out_w) or die;
  pipe(my $err_r, my $err_w) or die;
  my $pid = fork // die;
  if ($pid == 0) {
    POSIX::setsid();
    chdir $folder or chdir '/';
    open STDIN, '<', '/dev/null';
    open STDOUT, '>&', $out_w;
    open STDERR, '>&', $err_w;
    { no warnings 'exec'; exec { $items[0] } @items }
    print STDERR "wine32-qemu agent: cannot run $items[0]: $!\n";
    POSIX::_exit(127);
  }
  close $out_w;
  close $err_w;
  my %channel = (fileno($out_r) => 1, fileno($err_r) => 2);
  my $ready = IO::Select->new($out_r, $err_r, $caller);
  my $status;
  while (1) {
    my @fhs = $ready->can_read(0.1);
    # Once the program has ended, a quiet moment ends its output too: a process it left
    # behind may hold the pipes open for good.
    last if defined $status && (!@fhs || $ready->count == 1);
    for my $fh (@fhs) {
      if ($fh == $caller) {
        # The caller sends nothing after its request; a readable socket means it is gone
        # (killed, or timed out), and the run goes with it.
        kill 'KILL', -$pid;
        return;
      }
      my $n = sysread($fh, my $data, 65536);
      if ($n) {
        frame($caller, $channel{fileno $fh}, $data) or do { kill 'KILL', -$pid; return };
      } else {
        $ready->remove($fh);
      }
    }
    $status //= $? if waitpid($pid, POSIX::WNOHANG()) == $pid;
  }
  my $code = POSIX::WIFEXITED($status) ? POSIX::WEXITSTATUS($status) : 128 + POSIX::WTERMSIG($status);
  frame($caller, 0, pack('N', $code));
}
