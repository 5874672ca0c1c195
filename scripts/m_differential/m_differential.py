#!/usr/bin/env python3
"""Differential check of kvrdevserver's M arithmetic.

Generates random arithmetic expressions (numbers of every form, strings with
numeric prefixes, + - * / \\ # ** < > =, $JUSTIFY, $FNUMBER), evaluates them
with the engine (through eval_lines.cpp, built against the build tree's
libmengine.a) and with GT.M, and reports how often they agree.

Every engine result is held against a restatement of the engine's rules in
Python's decimal module (decimal_model.py). Where the two systems differ
beyond the last digit, each operation of the expression runs once more on
its own, on literal operands, through both; the first operation whose
results part is held against its exact value (60 digits). When the engine's
result lies within the last digit of it and GT.M's does not, the difference
is a known one, named by the operation (KNOWN); so is a difference where no
single operation parts beyond the last digit. Anything else is reported as
another difference, and the exit status is 1 when the engine is the one off.

  scripts/m_differential/m_differential.py --build build --count 4000 --seed 7
  scripts/m_differential/m_differential.py --build build --profile plain

Needs g++ and GT.M (fis-gtm; --gtm names its directory). Writes its work
files and the list of differences (differences.txt) to --work.
"""
import argparse
import os
import random
import re
import subprocess
import sys
import tempfile
from decimal import Decimal

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True  # no __pycache__ left in the source tree
import decimal_model  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
CANONIC = re.compile(r'-?(\d+(\.\d*)?|\.\d+)')


class Generator:
    """Expressions; 'edge' reaches the ends of the precision and range,
    'plain' stays with the values applications compute with."""

    def __init__(self, seed, plain):
        self.r = random.Random(seed)
        self.plain = plain

    def digits(self, n):
        r = self.r
        return str(r.randint(1, 9)) + ''.join(str(r.randint(0, 9)) for _ in range(n - 1))

    def number(self):
        r, plain = self.r, self.plain
        k = r.random()
        if k < 0.25:
            s = str(r.randint(0, 1000))
        elif k < 0.35:
            s = self.digits(r.randint(1, 15 if plain else 18))
        elif k < 0.40:
            s = self.digits(r.randint(5, 12) if plain else r.randint(19, 24))
        elif k < 0.65:
            whole = self.digits(r.randint(1, 4)) if r.random() < .7 else ''
            s = whole + '.' + ''.join(str(r.randint(0, 9)) for _ in range(r.randint(1, 6))) + str(r.randint(1, 9))
        elif k < 0.72:
            places = r.randint(4, 10) if plain else r.randint(10, 22)
            s = '.' + ''.join(str(r.randint(0, 9)) for _ in range(places)) + str(r.randint(1, 9))
        elif k < 0.82:
            s = (self.digits(r.randint(1, 4)) + r.choice(['', '.', '.' + self.digits(2)]) + 'E' +
                 r.choice(['', '+', '-']) + str(r.randint(0, 6 if plain else 30)))
        elif k < 0.92:
            inner = r.choice([self.digits(3), '.' + self.digits(2), self.digits(2) + '.' + self.digits(2),
                              self.digits(2) + 'E' + str(r.randint(0, 5)), self.digits(2) + 'e3', ' 5',
                              '--' + self.digits(2), '+-' + self.digits(2), '1.E2', '.', '-', '',
                              self.digits(2) + '.E-1', self.digits(3) + 'E00000' + str(r.randint(1, 4)), 'abc',
                              self.digits(12 if plain else 20) + 'x'])
            s = '"' + inner + r.choice(['', 'abc', ' 99']) + '"'
        else:
            s = r.choice(['0', '1', '-1', '.1', '.01', '10', '100', '1E18', '1E-18', '999999999999999999'])
        return ('-' + s) if r.random() < .2 else s

    def expression(self, depth=0):
        r = self.r
        parts = [self.atom(depth)]
        for _ in range(r.randint(0, 3)):
            op = r.choice(['+', '-', '*', '/', '\\', '#', '+', '-', '*', '**', '<', '>', '='])
            if op == '**':
                powers = [str(r.randint(-3, 12)), '2', '3', '-2']
                if not self.plain:
                    powers += ['.5', '(1/3)', '.25']
                rhs = r.choice(powers)
            else:
                rhs = self.atom(depth)
            parts.append(op + rhs)
        return ''.join(parts)

    def atom(self, depth):
        r = self.r
        k = r.random()
        if depth < 2 and k < 0.15:
            return '(' + self.expression(depth + 1) + ')'
        if depth < 2 and k < 0.22:
            x = self.expression(depth + 1)
            return r.choice([
                lambda: '$J(%s,1,%d)' % (x, r.randint(0, 6)),
                lambda: '$J(%s,%d)' % (x, r.randint(1, 25)),
                lambda: '$FN(%s,"%s",%d)' % (x, r.choice(['', ',', '+', '-', ',-', 'P', 'T', ',P']), r.randint(0, 5)),
                lambda: '$FN(%s,"%s")' % (x, r.choice([',', '+', '-', 'P', 'T'])),
            ])()
        if k < 0.27:
            return '-' + self.atom(depth)
        if k < 0.30:
            return '+' + self.atom(depth)
        return self.number()

    def expressions(self, count):
        out = []
        while len(out) < count:
            e = self.expression()
            # A negative literal to a fractional power is a compile-time
            # error that stops GT.M's whole routine.
            if re.search(r'\*\*(\.|\()', e) and '-' in e:
                continue
            out.append(e)
        return out


def build_driver(build, work):
    driver = os.path.join(work, 'eval_lines')
    library = os.path.join(build, 'archive', 'libmengine.a')
    include = os.path.join(HERE, '..', '..', 'devserver', 'engine', 'include')
    subprocess.run(['g++', '-std=c++20', '-O1', '-I' + include, os.path.join(HERE, 'eval_lines.cpp'), library,
                    '-lpthread', '-o', driver], check=True)
    return driver


def run_engine(driver, exprs):
    lines = ''.join('W %s\n' % e for e in exprs)
    return subprocess.run([driver], input=lines, capture_output=True, text=True, check=True).stdout.split('\n')


def run_gtm(gtm, work, exprs):
    routine = os.path.join(work, 'MDIFF.m')
    with open(routine, 'w') as f:
        f.write('MDIFF ;\n N i F i=1:1:%d D RUN(i)\n Q\n' % len(exprs))
        f.write('RUN(i) N $ET S $ET="W ""ERR:"",$P($ZS,"","",3),! S $EC="""" Q"\n D @("E"_i)\n Q\n')
        for i, e in enumerate(exprs, 1):
            f.write('E%d W %s,! Q\n' % (i, e))
    env = dict(os.environ, gtm_dist=gtm, gtmroutines='. ' + gtm)
    # GT.M's compiler now and then dies of a segmentation fault on a routine
    # whose literals overflow (NUMOFLOW); the same routine compiles on
    # another try.
    obj = os.path.join(work, 'MDIFF.o')
    for _ in range(10):
        if os.path.exists(obj):
            os.remove(obj)
        compiled = subprocess.run([os.path.join(gtm, 'mumps'), routine], cwd=work, env=env,
                                  capture_output=True, text=True)
        if compiled.returncode >= 0 and os.path.exists(obj):
            break
    else:
        sys.exit('GT.M could not compile %s: %s' % (routine, compiled.stderr.strip()[-500:]))
    done = subprocess.run([os.path.join(gtm, 'mumps'), '-run', 'MDIFF'], cwd=work, env=env,
                          capture_output=True, text=True)
    out = done.stdout.split('\n')
    if len(out) <= len(exprs):
        sys.exit('GT.M stopped after %d expressions: %s' % (len(out) - 1, done.stderr.strip()))
    return out


def within_last_digit(a, b):
    """Both canonic numbers, apart by at most two units of the 18th digit."""
    if not (CANONIC.fullmatch(a) and CANONIC.fullmatch(b)):
        return False
    x, y = Decimal(a), Decimal(b)
    largest = max(abs(x), abs(y))
    return abs(x - y) <= 2 * Decimal(10) ** (largest.adjusted() - 17)


def alike(a, b):
    """The same, both errors, or apart only in the last digit."""
    return a == b or (a.startswith('ERR:') and b.startswith('ERR:')) or within_last_digit(a, b)


# Differences that follow from a documented difference between GT.M and the
# engine. Each is recognised at the first operation where the two part (see
# classify), never from the look of the expression.
KNOWN = {
    'modulo': "#: GT.M's remainder is not the exact one: it loses digits, all of them when the quotient "
              'is large (other digits, another sign, or a NUMOFLOW error); the standard defines A#B exactly',
    'addition': '+ and -: GT.M keeps the result only to the last place that the larger operand\'s 18 digits '
                'reach, so the difference of nearly equal numbers keeps fewer digits; the engine cuts the '
                'exact result to 18 significant digits',
    'negative power': "x**-n: GT.M's result is more than two units of the 18th digit off; the engine's lies "
                      'within the last digit of the exact value',
    'fractional power': 'x**y, y not an integer: GT.M computes in binary double precision, about 16 digits; '
                        'the engine keeps 18',
    'amplified': 'no single operation is off by more than the last digit in either system; later '
                 'operations (a difference of nearly equal numbers, \\, #, a comparison) make a last-digit '
                 'difference larger',
}
ENGINE_MODEL = 'engine differs from the decimal model'
ENGINE_EXACT = 'engine further than the last digit from the exact value'


def operation(step):
    """The operator of a traced operation ('#', '**-', '**.', '$J', ...)."""
    m = re.fullmatch(r'"[^"]*"(\*\*|[-+*/\\#<>=])"([^"]*)"', step)
    if not m:
        return step.split('(')[0] if step.startswith('$') else 'unary' if step[:1] in '+-' else 'literal'
    if m.group(1) != '**':
        return m.group(1)
    power = Decimal(decimal_model.canon(decimal_model.num(m.group(2))))
    return '**.' if power != power.to_integral_value() else '**-' if power < 0 else '**'


def classify(trace, results):
    """The kind of a difference: the first operation of the trace whose
    results from GT.M and the engine part beyond the last digit, held
    against its exact value. Returns the kind and that operation."""
    for step, _ in trace:
        g, k = results[step]
        if alike(g, k):
            continue
        x = decimal_model.exact(step)
        engine_near, gtm_near = alike(k, x), alike(g, x)
        first = (step, g, k, x)
        if not engine_near:
            return ENGINE_EXACT, first
        if gtm_near:
            return 'amplified', first
        op = operation(step)
        kind = {'#': 'modulo', '+': 'addition', '-': 'addition', '**-': 'negative power',
                '**.': 'fractional power'}.get(op)
        return (kind or 'GT.M further than the last digit from the exact value in ' + op), first
    return 'amplified', None


def main():
    p = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    p.add_argument('--build', default='build', help='the build directory (with archive/libmengine.a)')
    p.add_argument('--gtm', default='/usr/lib/x86_64-linux-gnu/fis-gtm/V7.0-005_x86_64')
    p.add_argument('--count', type=int, default=4000)
    p.add_argument('--seed', type=int, default=1)
    p.add_argument('--profile', choices=['edge', 'plain'], default='edge')
    p.add_argument('--work', default=None, help='directory for work files (default: a new temporary one)')
    args = p.parse_args()
    work = args.work or tempfile.mkdtemp(prefix='m_differential_')
    os.makedirs(work, exist_ok=True)

    exprs = Generator(args.seed, args.profile == 'plain').expressions(args.count)
    driver = build_driver(os.path.abspath(args.build), work)
    engine = run_engine(driver, exprs)
    gtm = run_gtm(args.gtm, work, exprs)

    identical = errors = last_digit = model_checked = model_agree = 0
    differences = []  # [expression, GT.M, engine, model, trace]
    for e, g, k in zip(exprs, gtm, engine):
        trace = []
        try:
            m = decimal_model.evaluate(e, trace)
        except decimal_model.Approx:
            m = None
        if m is not None:
            model_checked += 1
            model_agree += alike(m, k) and (m == k or m.startswith('ERR'))
        if g == k:
            identical += 1
        elif g.startswith('ERR:') and k.startswith('ERR:'):
            errors += 1
        elif within_last_digit(g, k):
            last_digit += 1
        else:
            differences.append((e, g, k, m, trace))

    # Each operation of the differing expressions, on literal operands, once
    # more through both.
    steps = sorted({step for d in differences for step, _ in d[4]})
    step_work = os.path.join(work, 'steps')
    os.makedirs(step_work, exist_ok=True)
    results = dict(zip(steps, zip(run_gtm(args.gtm, step_work, steps), run_engine(driver, steps))))

    kinds = {kind: 0 for kind in KNOWN}
    rows = []
    for e, g, k, m, trace in differences:
        if m is not None and m != k:
            kind, first = ENGINE_MODEL, None
        else:
            kind, first = classify(trace, results)
        kinds[kind] = kinds.get(kind, 0) + 1
        rows.append((kind not in KNOWN, kind, e, g, k, m, first))

    n = len(exprs)
    known = sum(kinds[kind] for kind in KNOWN)
    other = len(differences) - known
    print('%d expressions (%s, seed %d): identical %d, both errors %d, last-digit differences %d, '
          'known differences %d, other %d'
          % (n, args.profile, args.seed, identical, errors, last_digit, known, other))
    print('agreement %.2f%%; leaving last-digit differences aside %.2f%%; leaving known differences aside too %.2f%%'
          % (100.0 * (identical + errors) / n, 100.0 * (identical + errors + last_digit) / n,
             100.0 * (n - other) / n))
    print('engine against the decimal model: %d of %d agree' % (model_agree, model_checked))
    print('known differences:')
    for kind, text in KNOWN.items():
        print('  %s: %d (%s)' % (kind, kinds[kind], text))
    print('other differences:%s' % ('' if other else ' none'))
    for kind, count in sorted(kinds.items()):
        if kind not in KNOWN:
            print('  %s: %d' % (kind, count))
    path = os.path.join(work, 'differences.txt')
    with open(path, 'w') as f:
        for _, kind, e, g, k, m, first in sorted(rows):
            f.write('[%s] %s\n  GT.M:   %s\n  engine: %s\n  model:  %s\n' % (kind, e, g, k, m))
            if first:
                f.write('  first parting: %s\n    GT.M:   %s\n    engine: %s\n    exact:  %s\n' % first)
    print('differences:', path)
    return 1 if kinds.get(ENGINE_MODEL) or kinds.get(ENGINE_EXACT) else 0


if __name__ == '__main__':
    sys.exit(main())
